#include "filters/vidfilters.h"

#include "Video/vidclass/ipl.h"
#include "filters/mainwindow_link.h"

namespace {

void ReleaseOutput(IplImage*& output) {
  // The mask is never ours; a full release would free it.
  if (output != nullptr) output->maskROI = nullptr;
  ReleaseImage(&output);
}

}  // namespace

bool ColourNatureChanged(int channels, bool colour_input) {
  return (channels == 1 && colour_input) || (channels > 1 && !colour_input);
}

TVidFilter::~TVidFilter() {
  ReleaseOutput(OutLeft);
  ReleaseOutput(OutRight);
}

void TVidFilter::CompleteCreation() {
  AllocateOutputs();
  Setup = nullptr;
  SetEnabled(true);
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
  if (current_frame == nullptr) return;
  ReleaseOutput(output);
  output = CreateImage(CvSize{current_frame->width, current_frame->height}, OutChannels, IPL_DEPTH_8U, true);
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
