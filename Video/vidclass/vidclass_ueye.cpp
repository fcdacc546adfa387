#include "Video/vidclass/vidclass_ueye.h"

#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass_capture.h"

namespace {

using driver_binding::Call;

const uEyeimp::Functions& Driver() { return uEyeimp::Api(); }

const CaptureLogTexts kLogTexts{"uEye Channels ",  "uEye Alloc ",   "uEye SetMem ", "uEye SetSize ",
                                "uEye ColorMode ", "uEye Display ", "uEye GetMem ", "uEye Sequence "};

constexpr int32_t kDefaultWidth = 1280;
constexpr int32_t kDefaultHeight = 1024;
constexpr int32_t kDefaultChannels = 3;
constexpr double kBrightnessScale = 255.0;
constexpr double kContrastScale = 511.0;

}  // namespace

tVideoDeviceuEye::tVideoDeviceuEye(int32_t cameraId, platform::WindowHandle window) {
  WindowHandle = window;
  CreateThread(TVideoThread::Start::Running);
  Handle = static_cast<uint32_t>(cameraId);
  LastResult = Call(Driver().is_InitCamera, &Handle, static_cast<void*>(WindowHandle));
  if (LastResult != 0) {
    // The camera id is no handle: left in place it could address another
    // camera that the driver opened under that number.
    Handle = 0;
    return;
  }
  Width = kDefaultWidth;
  Height = kDefaultHeight;
  Channels = kDefaultChannels;
  State = 0;
  Inputs = {"uEye camera"};
}

tVideoDeviceuEye::~tVideoDeviceuEye() { Close(); }

void tVideoDeviceuEye::Close() {
  if (State == 1) Stop();
  // The thread goes before the memory: its frame callback may still read it.
  EndThread();
  // The sequence is cleared and its memories freed while the camera is open.
  Frames.reset();
  if (State >= 0) Call(Driver().is_ExitCamera, Handle);
  ReleaseImage(&Image);
  if (State == 1) State = 0;
}

void tVideoDeviceuEye::Init(uint32_t messageNumber) {
  tVideoDevice::Init(messageNumber);
  if (!BindCaptureMemory(*this, Driver(), kLogTexts, MemoryId, ColorMode, BitsPerPixel)) return;
  LastResult = Call(Driver().is_InitEvent, Handle, FrameEventFd(), uEyeimp::kFrameEvent);
  Thread->Release();
  FillFrame(Image, 0);
  State = 1;
}

void tVideoDeviceuEye::Start() {
  LastResult = FirstFailure({Call(Driver().is_CaptureVideo, Handle, 0),
                             Call(Driver().is_EnableEvent, Handle, uEyeimp::kFrameEvent)});
}

void tVideoDeviceuEye::Stop() {
  LastResult = Call(Driver().is_StopLiveVideo, Handle, 0);
  LastResult = Call(Driver().is_DisableEvent, Handle, uEyeimp::kFrameEvent);
}

void tVideoDeviceuEye::Trigger() { LastResult = Call(Driver().is_FreezeVideo, Handle, 0); }

void tVideoDeviceuEye::SetTriggerMode(bool on) {
  LastResult =
      Call(Driver().is_SetExternalTrigger, Handle, on ? uEyeimp::kSoftwareTrigger : uEyeimp::kTriggerOff);
  if (on && LastResult == 0 && Frames) Frames->EndLiveFrames();
}

void tVideoDeviceuEye::SetFrameRate(double fps) {
  if (Handle != 0) Call(Driver().is_SetFrameRate, Handle, fps, &FrameRate);
}

void tVideoDeviceuEye::SetExposure(double ms) {
  if (Handle != 0) Call(Driver().is_SetExposureTime, Handle, ms, &Exposure);
}

void tVideoDeviceuEye::GetExposureRange(ValueRange& range) {
  range = ValueRange{};
  Call(Driver().is_GetExposureRange, Handle, &range.Minimum, &range.Maximum, &range.Increment);
}

void tVideoDeviceuEye::GetFrameRateRange(ValueRange& range) {
  ValueRange frameTimes;
  Call(Driver().is_GetFrameTimeRange, Handle, &frameTimes.Minimum, &frameTimes.Maximum,
       &frameTimes.Increment);
  range = FrameRateRangeFromFrameTimes(frameTimes.Minimum, frameTimes.Maximum, frameTimes.Increment);
}

std::vector<std::string>* tVideoDeviceuEye::GetModeList() {
  if (!ModeList && Handle != 0) ModeList = std::make_unique<std::vector<std::string>>();
  return ModeList.get();
}

void tVideoDeviceuEye::SetBrightness(double value) {
  Brightness = value;
  if (Handle != 0) Call(Driver().is_SetBrightness, Handle, RoundHalfEven(value * kBrightnessScale));
}

void tVideoDeviceuEye::SetContrast(double value) {
  Contrast = value;
  if (Handle != 0) Call(Driver().is_SetContrast, Handle, RoundHalfEven(value * kContrastScale));
}

void tVideoDeviceuEye::SetImagePos(int32_t x, int32_t y) {
  if (Handle != 0) Call(Driver().is_SetImagePos, Handle, x, y);
}

void tVideoDeviceuEye::GetPixelClockRange(ValueRange& range) {
  int32_t minimum = 0;
  int32_t maximum = 0;
  Call(Driver().is_GetPixelClockRange, Handle, &minimum, &maximum);
  range = ValueRange{static_cast<double>(minimum), static_cast<double>(maximum), 0.0};
}

void tVideoDeviceuEye::SetPixelClock(int32_t mhz) {
  if (Handle == 0) return;
  Call(Driver().is_SetPixelClock, Handle, mhz);
  PixelClock = mhz;
}
