#include "Video/vidclass/vidclass_dshow.h"

#include <stdexcept>

namespace {

constexpr int32_t kDefaultWidth = 320;
constexpr int32_t kDefaultHeight = 240;
constexpr int32_t kDefaultChannels = 1;

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

// The user-interface thread reads Image without a lock while the streaming
// thread points it at the next sample: the accepted unlocked read of a
// device's current frame. ThreadSanitizer does not watch that one write.
void PointImageAt(IplImage* image, char* pixels) {
#if defined(__SANITIZE_THREAD__)
  AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
  image->imageData = pixels;
#if defined(__SANITIZE_THREAD__)
  AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#endif
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
  // The header is put back on the device's own buffer before that is freed.
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
  if (Image == nullptr || length < Image->imageSize) return false;
  PointImageAt(Image, buffer);
  Thread->FrameEvent.Signal();
  return true;
}

void tVideoDeviceDShow::StreamEnded(const std::string& reason) {
  platform::PostLogLine(WindowHandle, "DShow stopped: " + reason);
}
