#include "Video/vidclass/vidclass_dshow.h"

#include <chrono>
#include <stdexcept>

namespace {

constexpr int32_t kDefaultWidth = 320;
constexpr int32_t kDefaultHeight = 240;
constexpr int32_t kDefaultChannels = 1;

// Copies a sample takes: the window holds one, the pipeline fills another.
constexpr int kCopiedFrames = 3;

double SteadyNow_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

tVideoDeviceDShow::tVideoDeviceDShow(int32_t deviceIndex, platform::WindowHandle window) {
  CreateThread(TVideoThread::Start::Suspended);
  WindowHandle = window;
  Width = kDefaultWidth;
  Height = kDefaultHeight;
  Channels = kDefaultChannels;
  platform::CaptureSampleSink* sink = this;
  if (deviceIndex >= 0)
    Graph = std::make_unique<platform::CapturePipeline>(static_cast<std::size_t>(deviceIndex), sink);
  if (!Graph || !Graph->Bound()) {
    Log.push_back("DShow CaptureDevice " + std::to_string(deviceIndex) + " not found");
    return;
  }
  State = 0;
  Inputs = {"DShow"};
}

tVideoDeviceDShow::~tVideoDeviceDShow() {
  // The thread goes first: its frame callback may still read the image.
  EndThread();
  // Destroying the pipeline stops it whatever Stop would answer, so no
  // streaming thread points Image any more; the last sample goes with it.
  Graph.reset();
  Frames.reset();
  ReleaseImage(&Image);
  Inputs.clear();
}

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
  auto copies = std::make_unique<CopiedFrames>(*Image, kCopiedFrames);
  copies_ = copies.get();
  Frames = std::move(copies);
  if (!Graph->Link(Channels == 1, Width, Height)) Log.emplace_back("DShow Render failed");
  Thread->Release();
  State = 1;
}

void tVideoDeviceDShow::Start() {
  if (State == 1) Graph->Run();
}

void tVideoDeviceDShow::Stop() {
  if (State == 1) Graph->Halt();
}

bool tVideoDeviceDShow::SampleArrived(double, char* buffer, long length) {
  // A sample shorter than the image would be read past its end.
  if (copies_ == nullptr || length < Image->imageSize) return false;
  // The pipeline recycles its buffers: the frame is copied into one nobody
  // holds, and a frame that finds every copy held is dropped.
  if (!copies_->Put(buffer, Image->widthStep, FrameStamp{++samples_, SteadyNow_ms()})) return false;
  Thread->FrameEvent.Signal();
  return true;
}

void tVideoDeviceDShow::StreamEnded(const std::string& reason) {
  platform::PostLogLine(WindowHandle, "DShow stopped: " + reason);
}
