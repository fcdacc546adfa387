#include "video_test_support.h"

#include <algorithm>
#include <stdexcept>

#include "Video/vidclass/driver_binding.h"
#include "platform/capture_devices.h"
#include "platform/dynamic_library.h"

AnnouncementLog& AnnouncementLog::Instance() {
  static AnnouncementLog log;
  return log;
}

void AnnouncementLog::Add(std::string entry) {
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  changed_.notify_all();
}

void AnnouncementLog::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::vector<std::string> AnnouncementLog::Entries() {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::size_t AnnouncementLog::Count(const std::string& entry) {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry));
}

bool AnnouncementLog::WaitFor(const std::string& entry, std::size_t count,
                              std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry)) >= count;
  });
}

void RecordingFrameCallback() { AnnouncementLog::Instance().Add("callback"); }

std::string MessageEntry(uint32_t message) { return "message " + std::to_string(message); }

void RecordingWindow::Post(uint32_t message) { AnnouncementLog::Instance().Add(MessageEntry(message)); }

void RecordingWindow::PostLine(const std::string& line) { AnnouncementLog::Instance().Add(LineEntry(line)); }

std::string LineEntry(const std::string& line) { return "line " + line; }

int32_t CaptureDeviceIndex(const std::string& description) {
  const auto devices = platform::SystemCaptureDevices()->Devices();
  for (std::size_t i = 0; i < devices.size(); ++i)
    if (devices[i].source_description == description) return static_cast<int32_t>(i);
  return -1;
}

namespace {

template <class Function>
Function Lookup(void* library, const char* name) {
  void* address = platform::GetProcAddress(library, name);
  if (address == nullptr) throw std::runtime_error(std::string("fake driver lacks ") + name);
  return reinterpret_cast<Function>(address);
}

}  // namespace

FakeDriver::FakeDriver(const char* file) : library_(platform::LoadLibrary(file)) {
  if (library_ == nullptr) throw std::runtime_error("fake driver not found");
  Reset();
}

FakeDriver::~FakeDriver() { platform::FreeLibrary(library_); }

void FakeDriver::Reset() { Lookup<void (*)()>(library_, "fake_reset")(); }

void FakeDriver::SetResult(const char* function, int32_t result) {
  Lookup<void (*)(const char*, int32_t)>(library_, "fake_set_result")(function, result);
}

void FakeDriver::SetFrameTimes(double shortest_s, double longest_s, double step_s) {
  Lookup<void (*)(double, double, double)>(library_, "fake_set_frame_times")(shortest_s, longest_s, step_s);
}

void FakeDriver::Fill(int32_t id, uint64_t number, uint64_t camera_time) {
  Lookup<void (*)(int32_t, uint64_t, uint64_t)>(library_, "fake_fill")(id, number, camera_time);
}

std::vector<std::string> FakeDriver::Calls() {
  const auto count = Lookup<int32_t (*)()>(library_, "fake_call_count")();
  const auto call = Lookup<bool (*)(int32_t, char*, int32_t)>(library_, "fake_call");
  std::vector<std::string> calls;
  char text[256];
  for (int32_t i = 0; i < count && call(i, text, sizeof text); ++i) calls.emplace_back(text);
  return calls;
}

std::vector<std::string> FakeDriver::CallsOf(const std::string& function) {
  std::vector<std::string> matching;
  for (const std::string& call : Calls())
    if (call == function || call.rfind(function + " ", 0) == 0) matching.push_back(call);
  return matching;
}
