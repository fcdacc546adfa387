#include "Video/vidclass/vidclass_dshow.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace {

// A source that states no size opens as the pipeline always opened.
constexpr int32_t kDefaultWidth = 320;
constexpr int32_t kDefaultHeight = 240;
constexpr int32_t kDefaultChannels = 1;

// Samples a view keeps: the window holds one, the pairing may pin another,
// the newest waits.
constexpr int kKeptSamples = 4;

using platform::CaptureControl;
using platform::StereoLayout;

// How many eyes lie across and down one frame of the layout.
int EyesAcross(StereoLayout layout) { return layout == StereoLayout::kSideBySide ? 2 : 1; }
int EyesDown(StereoLayout layout) { return layout == StereoLayout::kTopBottom ? 2 : 1; }

}  // namespace

tVideoDeviceDShow::tVideoDeviceDShow(int32_t deviceIndex, platform::WindowHandle window)
    : tVideoDeviceDShow(deviceIndex >= 0 ? std::make_shared<CaptureFeed>(deviceIndex) : nullptr,
                        StereoLayout::kNone, 0, window) {
  if (State == -1) Log.push_back("DShow CaptureDevice " + std::to_string(deviceIndex) + " not found");
}

tVideoDeviceDShow::tVideoDeviceDShow(std::shared_ptr<CaptureFeed> feed, StereoLayout layout, int eye,
                                     platform::WindowHandle window)
    : feed_(std::move(feed)), layout_(layout), eye_(eye) {
  CreateThread(TVideoThread::Start::Suspended);
  WindowHandle = window;
  Width = kDefaultWidth;
  Height = kDefaultHeight;
  Channels = kDefaultChannels;
  if (!feed_ || !feed_->Bound()) return;
  for (const platform::CaptureMode& mode : feed_->Modes()) modeTexts_.push_back(mode.Text());
  // The first eye's device chooses the shared mode; the second takes it.
  if (!feed_->Mode && !feed_->Modes().empty()) feed_->Mode = feed_->Modes().front();
  TakeModeSize();
  State = 0;
  Inputs = {"DShow"};
}

tVideoDeviceDShow::~tVideoDeviceDShow() {
  // The thread goes first: its frame callback may still read the image.
  EndThread();
  // Detached, no streaming thread reaches this device's frames; the feed
  // itself goes with its last view, and stops whatever Stop would answer.
  if (frames_ != nullptr) feed_->Detach(view_);
  feed_.reset();
  Frames.reset();
  ReleaseImage(&Image);
  Inputs.clear();
}

void tVideoDeviceDShow::TakeModeSize() {
  if (!feed_->Mode) return;
  Width = feed_->Mode->width / EyesAcross(layout_);
  Height = feed_->Mode->height / EyesDown(layout_);
  Channels = feed_->Mode->grey ? 1 : 3;
}

std::vector<std::string>* tVideoDeviceDShow::GetModeList() {
  return modeTexts_.empty() ? nullptr : &modeTexts_;
}

bool tVideoDeviceDShow::SelectMode(const std::string& mode) {
  if (State != 0 || feed_->Linked()) return false;
  const std::vector<platform::CaptureMode>& modes = feed_->Modes();
  const auto found = std::find_if(modes.begin(), modes.end(), [&mode](const platform::CaptureMode& offered) {
    return offered.Text() == mode;
  });
  if (found == modes.end()) return false;
  feed_->Mode = *found;
  TakeModeSize();
  return true;
}

std::string tVideoDeviceDShow::ModeText() const { return feed_ && feed_->Mode ? feed_->Mode->Text() : ""; }

void tVideoDeviceDShow::SetTriggerMode(bool) {}

void tVideoDeviceDShow::Init(uint32_t messageNumber) {
  tVideoDevice::Init(messageNumber);
  if (Channels != 1 && Channels != 3)
    throw std::invalid_argument("DShow Channels " + std::to_string(Channels) +
                                " not supported: 1 (grey) or 3 (colour)");
  if (Width <= 0 || Height <= 0)
    throw std::invalid_argument("DShow frame size " + std::to_string(Width) + "x" + std::to_string(Height) +
                                " not supported");
  if (State != 0) return;
  Image = CreateImage(CvSize{Width, Height}, Channels, IPL_DEPTH_8U, true);
  const FrameRegion region{Width * (eye_ % EyesAcross(layout_)), Height * (eye_ % EyesDown(layout_))};
  auto frames = std::make_unique<SampleFrames>(*Image, region, kKeptSamples);
  frames_ = frames.get();
  Frames = std::move(frames);
  if (!feed_->Link(Channels == 1, Width * EyesAcross(layout_), Height * EyesDown(layout_)))
    Log.emplace_back("DShow Render failed");
  view_ = {frames_, &Thread->FrameEvent, WindowHandle};
  feed_->Attach(view_);
  Thread->Release();
  State = 1;
}

void tVideoDeviceDShow::Start() {
  if (State == 1) feed_->Start(view_);
}

void tVideoDeviceDShow::Stop() {
  if (State == 1) feed_->Stop(view_);
}

bool tVideoDeviceDShow::TakeSample(const platform::CaptureSample& sample) {
  if (frames_ == nullptr || !frames_->Put(sample, FrameStamp{++taken_, sample.Time_ms})) return false;
  Thread->FrameEvent.Signal();
  return true;
}

void tVideoDeviceDShow::SayNoControl(const char* name) {
  if (!toldNoControl_.insert(name).second) return;
  platform::PostLogLine(WindowHandle, std::string("DShow ") + name + ": the source has no such control");
}

double tVideoDeviceDShow::ApplyShare(CaptureControl control, double share, const char* name) {
  const auto range = feed_ ? feed_->Pipeline().RangeOf(control) : std::nullopt;
  if (!range || range->maximum <= range->minimum) {
    SayNoControl(name);
    return share;
  }
  const double span = range->maximum - range->minimum;
  const auto in_effect = feed_->Pipeline().Set(control, range->minimum + std::clamp(share, 0.0, 1.0) * span);
  if (!in_effect) {
    SayNoControl(name);
    return share;
  }
  return (*in_effect - range->minimum) / span;
}

void tVideoDeviceDShow::SetFrameRate(double fps) {
  // A source's rate comes with its mode.
  SayNoControl("Framerate");
  FrameRate =
      feed_ && feed_->Mode && feed_->Mode->frames_per_second > 0 ? feed_->Mode->frames_per_second : fps;
}

void tVideoDeviceDShow::SetExposure(double ms) {
  const auto range = feed_ ? feed_->Pipeline().RangeOf(CaptureControl::kExposure) : std::nullopt;
  const auto in_effect =
      range ? feed_->Pipeline().Set(CaptureControl::kExposure, std::clamp(ms, range->minimum, range->maximum))
            : std::nullopt;
  if (!in_effect) SayNoControl("Exposure");
  Exposure = in_effect.value_or(ms);
}

void tVideoDeviceDShow::GetExposureRange(ValueRange& range) {
  const auto control = feed_ ? feed_->Pipeline().RangeOf(CaptureControl::kExposure) : std::nullopt;
  if (!control) {
    tVideoDevice::GetExposureRange(range);
    return;
  }
  range = {control->minimum, control->maximum, control->step};
}

void tVideoDeviceDShow::SetBrightness(double value) {
  Brightness = ApplyShare(CaptureControl::kBrightness, value, "Brightness");
}

void tVideoDeviceDShow::SetContrast(double value) {
  Contrast = ApplyShare(CaptureControl::kContrast, value, "Contrast");
}

void tVideoDeviceDShow::SetGain(double share) { Gain = ApplyShare(CaptureControl::kGain, share, "Gain"); }
