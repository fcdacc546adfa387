#include "depth/disparity_view.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <string>

#include "depth/depth_measure.h"
#include "filters/ucalibfilter.h"

namespace {

// Disparity (pixels) to a 0 ... 255 step of the fixed range.
cv::Mat ColourTable() {
  cv::Mat steps(1, 256, CV_8U);
  for (int i = 0; i < 256; ++i) steps.at<uint8_t>(i) = static_cast<uint8_t>(i);
  cv::Mat table;
  cv::applyColorMap(steps, table, cv::COLORMAP_JET);
  return table;
}

const cv::Vec3b& ColourOf(int step) {
  static const cv::Mat table = ColourTable();
  return table.at<cv::Vec3b>(std::clamp(step, 0, 255));
}

}  // namespace

cv::Vec3b Paler(const cv::Vec3b& colour) {
  return {static_cast<uint8_t>((colour[0] + 256) / 2), static_cast<uint8_t>((colour[1] + 256) / 2),
          static_cast<uint8_t>((colour[2] + 256) / 2)};
}

void ColouriseDisparity(const cv::Mat& disparity16, const TDisparitySettings& settings, cv::Mat& bgr,
                        const cv::Mat& filled) {
  bgr.create(disparity16.size(), CV_8UC3);
  const double first = settings.MinDisparity * kDisparityFraction;
  const double scale = 255.0 / (settings.NumDisparities * kDisparityFraction);
  const bool marked = filled.size() == disparity16.size();
  const bool hidden = settings.Post.HideFilled;
  for (int y = 0; y < disparity16.rows; ++y) {
    const int16_t* values = disparity16.ptr<int16_t>(y);
    const uint8_t* fill = marked ? filled.ptr<uint8_t>(y) : nullptr;
    auto* out = bgr.ptr<cv::Vec3b>(y);
    for (int x = 0; x < disparity16.cols; ++x) {
      const bool was_filled = fill != nullptr && fill[x] != 0;
      if (!IsMatched(values[x], settings.MinDisparity) || (was_filled && hidden)) {
        out[x] = cv::Vec3b(0, 0, 0);
        continue;
      }
      const cv::Vec3b& colour = ColourOf(static_cast<int>((values[x] - first) * scale));
      out[x] = was_filled ? Paler(colour) : colour;
    }
  }
}

void DrawLegend(cv::Mat& bgr, const TDisparitySettings& settings, const TStereoCalibration* calibration) {
  // Sized for the display's half size: the text stays about 10 px tall
  // when the pane shows the map at half its pixels.
  const int height = std::clamp(bgr.rows / 9, 24, 96);
  if (bgr.rows < 3 * height || bgr.cols < 96) return;
  cv::Mat strip = bgr.rowRange(bgr.rows - height, bgr.rows);
  strip.setTo(cv::Scalar::all(0));
  const int bar = height / 4;
  for (int x = 0; x < strip.cols; ++x) {
    strip.col(x).rowRange(0, bar).setTo(ColourOf(x * 255 / std::max(strip.cols - 1, 1)));
  }
  const double font = height / 27.0;
  const int thickness = font >= 1.5 ? 2 : 1;
  const cv::Scalar white(255, 255, 255);
  const int baseline = height - height / 6;
  const auto put = [&](const std::string& text, int centre_x) {
    const int width = cv::getTextSize(text, cv::FONT_HERSHEY_PLAIN, font, thickness, nullptr).width;
    const int left = std::clamp(centre_x - width / 2, 2, std::max(2, strip.cols - width - 2));
    cv::putText(strip, text, {left, baseline}, cv::FONT_HERSHEY_PLAIN, font, white, thickness, cv::LINE_AA);
  };
  if (calibration == nullptr) {
    put(FormatLine("disparity %d..%d px, no calibration", settings.MinDisparity,
                   settings.MinDisparity + settings.NumDisparities),
        strip.cols / 2);
    return;
  }
  constexpr int kMarks = 5;
  for (int mark = 1; mark < kMarks; ++mark) {
    const double disparity = settings.MinDisparity + settings.NumDisparities * mark / double(kMarks);
    const int x = strip.cols * mark / kMarks;
    const cv::Vec3d point = PointAt(*calibration, {bgr.cols / 2.0, bgr.rows / 2.0}, disparity);
    cv::line(strip, {x, 0}, {x, bar + 2}, white, thickness);
    put(disparity > 0 ? FormatLine("%.0f", point[2]) : std::string("inf"), x);
  }
  put(LengthUnit(*calibration), strip.cols / (2 * kMarks));
}
