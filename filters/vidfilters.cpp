#include "filters/vidfilters.h"

#include <opencv2/core/core_c.h>

#include <opencv2/core.hpp>

#include "Video/vidclass/ipl.h"
#include "filters/mainwindow_link.h"

bool ColourNatureChanged(int channels, bool colour_input) {
  return (channels == 1 && colour_input) || (channels > 1 && !colour_input);
}

void ReleaseBuffer(IplImage*& buffer) {
  // The mask is never ours; a full release would free it.
  if (buffer != nullptr) buffer->maskROI = nullptr;
  ReleaseImage(&buffer);
}

void RemakeBuffer(IplImage*& buffer, CvSize size, int channels, int depth) {
  ReleaseBuffer(buffer);
  buffer = CreateImage(size, channels, depth, true);
}

bool FitBuffer(IplImage*& buffer, CvSize size, int channels, int depth) {
  if (buffer != nullptr && buffer->width == size.width && buffer->height == size.height &&
      buffer->nChannels == channels && buffer->depth == depth) {
    return false;
  }
  RemakeBuffer(buffer, size, channels, depth);
  return true;
}

bool SameFormat(const IplImage* a, const IplImage* b) {
  return a != nullptr && b != nullptr && a->width == b->width && a->height == b->height &&
         a->nChannels == b->nChannels && a->depth == b->depth;
}

TVidFilter::~TVidFilter() {
  ReleaseBuffer(OutLeft);
  ReleaseBuffer(OutRight);
}

void TVidFilter::CompleteCreation() {
  AllocateOutputs();
  SetEnabled(true);
  FinishCreate();
}

void TVidFilter::SetName(const std::string& name) { Name = name; }

void TVidFilter::SetEnabled(bool flag) {
  Enabled = flag;
  if (MainWindow != nullptr) MainWindow->SetFilterChecks(this, flag);
}

void TVidFilter::SetOptionValue(int32_t value) { OptionValue = value; }

void TVidFilter::SetLinkedValue(int32_t value) {
  LinkedValue = value;
  if (LinkedControl) LinkedControl(value);
}

void TVidFilter::SetParameter(long double value) { Parameter = value; }

void TVidFilter::WriteLog(const std::string& line) {
  if (MainWindow != nullptr) MainWindow->AppendLog(line);
}

ImagePair TVidFilter::ProcessPair(const ImagePair& input) {
  // Without a left image there is nothing to test; the outputs stay as they are.
  if (const IplImage* left = input.Left();
      left != nullptr && ColourNatureChanged(left->nChannels, ColourInput)) {
    ColourInput = left->nChannels > 1;
    AllocateOutputs();
  }
  return input;
}

void TVidFilter::AllocateOutputs() {
  OutChannels = ColourInput ? 3 : 1;
  if (MainWindow == nullptr) return;
  RemakeOutput(OutLeft, MainWindow->CurrentLeftImage());
  RemakeOutput(OutRight, MainWindow->CurrentRightImage());
}

void TVidFilter::RemakeOutput(IplImage*& output, const IplImage* current_frame) {
  if (current_frame != nullptr) RemakeBuffer(output, SizeOf(current_frame), OutChannels);
}

void TVidFilter::LoadSettings(TSettingsStore& store, const std::string& section) {
  SetEnabled(!store.ReadBool(section, "ByPass", false));
  SetName(store.ReadString(section, "Name", Name));
  // The store keeps doubles: a missing key must not round the current value.
  const double current = static_cast<double>(Parameter);
  const double read = store.ReadFloat(section, "Parameter", current);
  SetParameter(read == current ? Parameter : read);
  WriteLog("Load: " + Name);
  if (Setup != nullptr) {
    const int left = store.ReadInteger(section, "Left", Setup->Left());
    const int top = store.ReadInteger(section, "Top", Setup->Top());
    Setup->MoveTo(left, top);
  }
}

void TVidFilter::SaveSettings(TSettingsStore& store, const std::string& section) {
  store.WriteBool(section, "ByPass", !Enabled);
  store.WriteString(section, "Name", Name);
  store.WriteFloat(section, "Parameter", static_cast<double>(Parameter));
  if (Setup != nullptr) {
    store.WriteInteger(section, "Left", Setup->Left());
    store.WriteInteger(section, "Top", Setup->Top());
  }
}

namespace {

// A side's working buffer made again at its output's size, when it has an
// output and a current frame.
void RemakeLike(IplImage*& buffer, const IplImage* output, const IplImage* current_frame, int channels) {
  if (current_frame != nullptr && output != nullptr) RemakeBuffer(buffer, SizeOf(output), channels);
}

}  // namespace

TColToGrayFilter::~TColToGrayFilter() {
  ReleaseBuffer(GreyLeft);
  ReleaseBuffer(GreyRight);
}

void TColToGrayFilter::AllocateOutputs() {
  TVidFilter::AllocateOutputs();
  if (MainWindow == nullptr) return;
  RemakeLike(GreyLeft, OutLeft, MainWindow->CurrentLeftImage(), 1);
  RemakeLike(GreyRight, OutRight, MainWindow->CurrentRightImage(), 1);
}

ImagePair TColToGrayFilter::ProcessPair(const ImagePair& input) {
  ImagePair output = TVidFilter::ProcessPair(input);
  if (!Enabled) return output;
  const auto convert = [](IplImage* frame, IplImage*& grey) -> IplImage* {
    // A grey frame is what this filter would make of it.
    if (frame == nullptr || frame->nChannels == 1) return frame;
    FitBuffer(grey, SizeOf(frame), 1);
    iplColorToGray(frame, grey);
    return grey;
  };
  output.Left() = convert(input.Left(), GreyLeft);
  output.Right() = convert(input.Right(), GreyRight);
  return output;
}

TDiffFilter::~TDiffFilter() {
  ReleaseBuffer(RefLeft);
  ReleaseBuffer(RefRight);
}

void TDiffFilter::AllocateOutputs() {
  TVidFilter::AllocateOutputs();
  if (OutLeft != nullptr) RemakeBuffer(RefLeft, SizeOf(OutLeft), OutLeft->nChannels);
  if (OutRight != nullptr) RemakeBuffer(RefRight, SizeOf(OutRight), OutRight->nChannels);
}

void TDiffFilter::ShowSetup() { TakeReference = true; }

ImagePair TDiffFilter::ProcessPair(const ImagePair& input) {
  ImagePair output = TVidFilter::ProcessPair(input);
  if (!Enabled) return output;
  DiffSide(input.Left(), OutLeft, RefLeft);
  DiffSide(input.Right(), OutRight, RefRight);
  output.Left() = OutLeft;
  output.Right() = OutRight;
  TakeReference = false;
  return output;
}

void TDiffFilter::DiffSide(const IplImage* input, IplImage*& output, IplImage*& reference) {
  if (input == nullptr) return;
  // A frame of another size or colour nature than the buffers (the first
  // frame, or a side whose camera differs from the left one) gets buffers of
  // its own, with a black reference.
  if (!SameFormat(input, output) || !SameFormat(input, reference)) {
    FitBuffer(output, SizeOf(input), input->nChannels);
    RemakeBuffer(reference, SizeOf(input), input->nChannels);
  }
  cv::Mat target = cv::cvarrToMat(output);
  cv::absdiff(cv::cvarrToMat(input), cv::cvarrToMat(reference), target);
  if (TakeReference) iplCopy(input, reference);
}
