#include "Video/vidclass/vidclass_falcon.h"

#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/vidclass_capture.h"

namespace {

using driver_binding::Call;

const falcimp::Functions& Driver() { return falcimp::Api(); }

// "Falcom SetSize " is the board's own log text; logs are compared against it.
const CaptureLogTexts kLogTexts{"Falcon Channels ",  "Falcon Alloc ",   "Falcon SetMem ", "Falcom SetSize ",
                                "Falcon ColorMode ", "Falcon Display ", "Falcon GetMem ", "Falcon Sequence "};

constexpr int32_t kDefaultChannels = 1;
constexpr int kInitialGrey = 159;
constexpr double kBrightnessScale = 255.0;

}  // namespace

tVideoDeviceFalcon::tVideoDeviceFalcon(int32_t, platform::WindowHandle window) {
  WindowHandle = window;
  CreateThread(TVideoThread::Start::Running);
  LastResult = Call(Driver().is_InitBoard, &Handle, static_cast<void*>(WindowHandle));
  if (LastResult != 0) {
    Handle = 0;
    return;
  }
  Width = falcimp::kBoardWidth;
  Height = falcimp::kBoardHeight;
  Channels = kDefaultChannels;
  State = 0;
  Inputs = {"Falcon#1", "Falcon#2"};
}

tVideoDeviceFalcon::~tVideoDeviceFalcon() { Close(); }

void tVideoDeviceFalcon::Close() {
  EndThread();
  // The sequence is cleared and its memories freed while the board is open.
  Frames.reset();
  if (State >= 0) Call(Driver().is_ExitBoard, Handle);
  ReleaseImage(&Image);
}

void tVideoDeviceFalcon::Init(uint32_t messageNumber) {
  tVideoDevice::Init(messageNumber);
  if (!BindCaptureMemory(*this, Driver(), kLogTexts, MemoryId, ColorMode, BitsPerPixel)) return;
  LastResult = Call(Driver().is_SetScaler, Handle, static_cast<float>(Width) / falcimp::kBoardWidth,
                    static_cast<float>(Height) / falcimp::kBoardHeight);
  LastResult = Call(Driver().is_SetScaler, Handle, 1.0f, 0.0f);
  LastResult = Call(Driver().is_SetVideoInput, Handle, falcimp::kVideoInput);
  LastResult = Call(Driver().is_InitEvent, Handle, FrameEventFd(), falcimp::kFrameEvent);
  Thread->Release();
  FillFrame(Image, kInitialGrey);
  State = 1;
}

void tVideoDeviceFalcon::Start() {
  LastResult = FirstFailure({Call(Driver().is_CaptureVideo, Handle, 0),
                             Call(Driver().is_EnableEvent, Handle, falcimp::kFrameEvent)});
}

void tVideoDeviceFalcon::Stop() {
  LastResult = Call(Driver().is_StopLiveVideo, Handle, 0);
  LastResult = Call(Driver().is_DisableEvent, Handle, falcimp::kFrameEvent);
}

void tVideoDeviceFalcon::SetTriggerMode(bool) {
  LastResult = Call(Driver().is_InitEvent, Handle, FrameEventFd(), falcimp::kFrameEvent);
  LastResult = Call(Driver().is_EnableEvent, Handle, falcimp::kFrameEvent);
}

void tVideoDeviceFalcon::SetBrightness(double value) {
  Brightness = value;
  Call(Driver().is_SetBrightness, Handle, RoundHalfEven(value * kBrightnessScale));
}
