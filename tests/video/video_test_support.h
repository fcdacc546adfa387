#pragma once

// Helpers of the video layer's tests: a window that records the messages
// posted to it, a frame callback that records its calls into the same log,
// and the test side of the recording fake driver.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window_handle.h"

// Everything a device announced, in order: "callback", "message <n>" or
// "line <text>".
class AnnouncementLog {
 public:
  static AnnouncementLog& Instance();

  void Add(std::string entry);
  void Clear();
  std::vector<std::string> Entries();
  std::size_t Count(const std::string& entry);
  // Waits until `entry` was announced `count` times; false on time-out.
  bool WaitFor(const std::string& entry, std::size_t count, std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> entries_;
};

// The frame callback the tests install.
void RecordingFrameCallback();

class RecordingWindow : public platform::MessageTarget {
 public:
  void Post(uint32_t message) override;
  void PostLine(const std::string& line) override;
};

std::string MessageEntry(uint32_t message);

// Index of the source with this description in the system's capture-device
// list (STEREO_CAPTURE_SOURCES as set now); -1 when it is not listed.
int32_t CaptureDeviceIndex(const std::string& description);
std::string LineEntry(const std::string& line);

// The test side of libvideo_fake_driver.so (and its variants).
class FakeDriver {
 public:
  static constexpr const char* kFile = "libvideo_fake_driver.so";

  explicit FakeDriver(const char* file = kFile);
  ~FakeDriver();
  FakeDriver(const FakeDriver&) = delete;
  FakeDriver& operator=(const FakeDriver&) = delete;

  void Reset();
  void SetResult(const char* function, int32_t result);
  void SetFrameTimes(double shortest_s, double longest_s, double step_s);
  // The driver finished a frame in memory `id`, stamped by the camera's clock.
  void Fill(int32_t id, uint64_t number, uint64_t camera_time);
  std::vector<std::string> Calls();
  // The recorded calls of one function, with their arguments.
  std::vector<std::string> CallsOf(const std::string& function);

 private:
  void* library_;
};
