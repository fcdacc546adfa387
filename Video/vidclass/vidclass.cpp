#include "Video/vidclass/vidclass.h"

#include "Video/vidclass/wait_backoff.h"

namespace {
// Ranges of a device that cannot ask its driver.
constexpr ValueRange kDefaultExposureRange{0.0, 0.04, 1.0};
constexpr ValueRange kDefaultFrameRateRange{0.0, 25.0, 1.0};
}  // namespace

TVideoThread::TVideoThread(tVideoDevice* device, Start start) : Device(device) {
  if (start == Start::Running) Release();
}

TVideoThread::~TVideoThread() { Terminate(); }

void TVideoThread::Release() {
  if (thread_.joinable() || ended_) return;
  thread_ = std::thread([this] { Run(); });
}

void TVideoThread::Terminate() {
  {
    const std::lock_guard lock(rest_mutex_);
    terminate_ = true;
  }
  rest_.notify_all();
  ended_ = true;
  // Wakes a wait at once; the loop sees the flag before it would announce.
  FrameEvent.Signal();
  if (thread_.joinable()) thread_.join();
}

void TVideoThread::Run() {
  platform::WaitResult last = platform::WaitTimedOut;
  WaitBackoff backoff;
  while (!terminate_) {
    if (last != platform::WaitTimedOut) Device->FrameReady();
    if (last == platform::WaitFailed) {
      const std::chrono::milliseconds rest = backoff.Failed();
      // One line per outage, not one per wait.
      if (backoff.OutageBegan())
        platform::PostLogLine(Device->WindowHandle, WaitFailureLine(Device->MessageNumber));
      RestAfterFailure(rest);
    } else {
      backoff.Succeeded();
    }
    last = Device->WaitForFrame();
  }
}

void TVideoThread::RestAfterFailure(std::chrono::milliseconds rest) {
  std::unique_lock lock(rest_mutex_);
  rest_.wait_for(lock, rest, [this] { return terminate_.load(); });
}

std::string WaitFailureLine(uint32_t message) {
  return "Frame wait failed (message " + std::to_string(message) + "), retrying every " +
         std::to_string(WaitBackoff::kLongest.count()) + " ms";
}

tVideoDevice::~tVideoDevice() {
  EndThread();
  ReleaseImage(&Image);
}

void tVideoDevice::CreateThread(TVideoThread::Start start) {
  // The thread reaches its event through Thread, so it may only run once
  // Thread holds it.
  Thread = std::make_unique<TVideoThread>(this, TVideoThread::Start::Suspended);
  if (start == TVideoThread::Start::Running) Thread->Release();
}

void tVideoDevice::EndThread() {
  if (Thread) Thread->Terminate();
}

int32_t tVideoDevice::FrameEventFd() const { return Thread ? Thread->FrameEvent.fd() : -1; }

void tVideoDevice::SetTriggerMode(bool on) { TriggerMode = on; }
void tVideoDevice::SetFrameRate(double fps) { FrameRate = fps; }
void tVideoDevice::SetExposure(double ms) { Exposure = ms; }
void tVideoDevice::GetExposureRange(ValueRange& range) { range = kDefaultExposureRange; }
std::vector<std::string>* tVideoDevice::GetModeList() { return nullptr; }
void tVideoDevice::GetFrameRateRange(ValueRange& range) { range = kDefaultFrameRateRange; }
void tVideoDevice::SetBrightness(double value) { Brightness = value; }
void tVideoDevice::SetContrast(double value) { Contrast = value; }
void tVideoDevice::SetSpareValue(double value) { SpareValue = value; }
void tVideoDevice::Init(uint32_t messageNumber) { MessageNumber = messageNumber; }
void tVideoDevice::Start() {}
void tVideoDevice::Stop() {}
void tVideoDevice::Trigger() {}
void tVideoDevice::SetImagePos(int32_t, int32_t) {}

platform::WaitResult tVideoDevice::WaitForFrame() {
  if (!Thread) return platform::WaitFailed;
  return Thread->FrameEvent.Wait(kFrameWaitTimeoutMs);
}

FrameList tVideoDevice::CompleteFrames() {
  if (Frames) return Frames->CompleteFrames();
  FrameList frames;
  if (Image != nullptr) frames.Add(FrameSlot{});
  return frames;
}

IplImage* tVideoDevice::HoldFrame(const FrameSlot& slot) { return Frames ? Frames->Hold(slot) : Image; }

bool tVideoDevice::PinFrame(const FrameSlot& slot) { return Frames ? Frames->Pin(slot) : Image != nullptr; }

void tVideoDevice::UnpinFrame(const FrameSlot& slot) {
  if (Frames) Frames->Unpin(slot);
}

IplImage* tVideoDevice::HoldNewestFrame(FrameStamp* stamp) {
  for (const FrameSlot& slot : CompleteFrames()) {
    if (IplImage* held = HoldFrame(slot)) {
      if (stamp != nullptr) *stamp = slot.Stamp;
      return held;
    }
  }
  return nullptr;
}

IplImage* tVideoDevice::HeldFrame() { return Frames ? Frames->Held() : Image; }

IplImage* tVideoDevice::HeldOrNewestFrame() {
  if (IplImage* held = HeldFrame()) return held;
  return HoldNewestFrame();
}

void tVideoDevice::ReleaseFrame() {
  if (Frames) Frames->Release();
}

bool tVideoDevice::ReadNewestFrame(const FrameReader& read) {
  if (Frames) return Frames->ReadNewest(read);
  if (Image == nullptr) return false;
  read(*Image);
  return true;
}

void tVideoDevice::TriggerNumbered(uint64_t number) {
  const bool numbered = number != 0 && AnswersTriggers();
  if (numbered) Triggers.Sent(number);
  Trigger();
  if (numbered && LastResult != 0) Triggers.Withdraw(number);
}

void tVideoDevice::FrameReady() {
  if (Frames) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    Frames->NoteArrival(std::chrono::duration<double, std::milli>(now).count(), Triggers);
  }
  if (Callback callback = FrameCallback.load()) callback();
  if (const uint32_t message = MessageNumber.load(); message != 0)
    platform::PostMessage(WindowHandle, message);
}
