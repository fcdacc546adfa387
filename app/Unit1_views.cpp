// Difference and anaglyph views of the two sources' current frames, and the
// anaglyph weights.

#include <opencv2/core/core_c.h>

#include <QLineEdit>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <opencv2/core.hpp>

#include "Video/vidclass/ipl.h"
#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "filters/vidfilters.h"

namespace {

size_t SkipDigits(const std::string& text, size_t at) {
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) ++at;
  return at;
}

bool SameSize(const IplImage* a, const IplImage* b) {
  return a != nullptr && b != nullptr && a->width == b->width && a->height == b->height &&
         a->depth == b->depth;
}

// The grey version of a frame: a grey frame as it is, a colour frame
// converted into work; null when the frame does not fit the work image.
const IplImage* GreyOf(const IplImage* frame, IplImage* work) {
  if (!SameSize(frame, work)) return nullptr;
  if (frame->nChannels == 1) return frame;
  if (frame->nChannels != 3) return nullptr;
  iplColorToGray(frame, work);
  return work;
}

}  // namespace

float ParseFactor(const std::string& text) {
  size_t at = text.find_first_not_of(" \t");
  if (at == std::string::npos) return 0.0F;
  const bool negative = text[at] == '-';
  if (text[at] == '+' || text[at] == '-') ++at;
  const size_t integer_end = SkipDigits(text, at);
  size_t end = integer_end;
  if (end < text.size() && text[end] == '.') end = SkipDigits(text, end + 1);
  // At least one digit before or after the point.
  if (integer_end == at && end <= integer_end + 1) return 0.0F;
  bool tiny = false;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    size_t exponent = end + 1;
    const bool exponent_negative = exponent < text.size() && text[exponent] == '-';
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    const size_t exponent_end = SkipDigits(text, exponent);
    if (exponent_end > exponent) {
      end = exponent_end;
      tiny = exponent_negative;
    }
  }
  // from_chars is locale-free but takes no "+": the sign is applied here.
  double value = 0.0;
  if (std::from_chars(text.data() + at, text.data() + end, value).ec == std::errc::result_out_of_range)
    value = tiny ? 0.0 : std::numeric_limits<double>::max();
  const double limit = std::numeric_limits<float>::max();
  return static_cast<float>(std::clamp(negative ? -value : value, -limit, limit));
}

void TForm1::ReadFactors() {
  const std::pair<QLineEdit*, float*> factors[] = {{EdR1, &R1}, {EdR2, &R2}, {EdG1, &G1},
                                                   {EdG2, &G2}, {EdB1, &B1}, {EdB2, &B2}};
  for (const auto& [edit, factor] : factors) *factor = ParseFactor(edit->text().toStdString());
}

void TForm1::ReleaseViewBuffers() {
  ReleaseImage(&ViewColourLeft);
  ReleaseImage(&ViewColourRight);
  ReleaseImage(&ViewGreyLeft);
  ReleaseImage(&ViewGreyRight);
}

void TForm1::PrepareViewBuffers(const IplImage* frame) {
  if (frame == nullptr) return;
  ReleaseViewBuffers();
  // Work images of the frame's format, zero-filled, with the ownership marker
  // that lets ReleaseImage free their pixels too. Only the format is taken:
  // the frame's memory belongs to a running driver.
  const CvSize size = cvSize(frame->width, frame->height);
  ViewColourLeft = CreateImage(size, frame->nChannels, frame->depth, true);
  ViewColourRight = CreateImage(size, frame->nChannels, frame->depth, true);
  ViewGreyLeft = CreateImage(size, 1, IPL_DEPTH_8U, true);
  ViewGreyRight = CreateImage(size, 1, IPL_DEPTH_8U, true);
}

void TForm1::ShowDifference() {
  if (!Device1 || !Device2 || ViewColourLeft == nullptr) return;
  const IplImage* left = Device1->HeldOrNewestFrame();
  const IplImage* right = Device2->HeldOrNewestFrame();
  // A source re-opened with another format no longer fits the work image.
  if (!SameFormat(left, ViewColourLeft) || !SameFormat(right, ViewColourLeft)) return;
  cv::Mat difference = cv::cvarrToMat(ViewColourLeft);
  cv::absdiff(cv::cvarrToMat(left), cv::cvarrToMat(right), difference);
  if (Form2 != nullptr) CopyImageToPane(ViewColourLeft, Form2->PbGraf2);
}

void TForm1::ShowAnaglyph() {
  if (!Device1 || !Device2 || ViewColourLeft == nullptr) return;
  if (ViewColourLeft->nChannels != 3 || !SameFormat(ViewColourLeft, ViewColourRight)) return;
  const IplImage* grey_left = GreyOf(Device1->HeldOrNewestFrame(), ViewGreyLeft);
  const IplImage* grey_right = GreyOf(Device2->HeldOrNewestFrame(), ViewGreyRight);
  if (grey_left == nullptr || grey_right == nullptr || !SameSize(grey_left, ViewColourLeft)) return;
  iplGrayToColor(grey_left, ViewColourLeft, R1, G1, B1);
  iplGrayToColor(grey_right, ViewColourRight, R2, G2, B2);
  iplAdd(ViewColourLeft, ViewColourRight, ViewColourLeft);
  if (Form2 != nullptr) CopyImageToPane(ViewColourLeft, Form2->PbGraf1);
}
