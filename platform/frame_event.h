#pragma once

#include <cstdint>

namespace platform {

// Outcomes of a wait, numbered as the capture loop expects them.
enum WaitResult : int32_t {
  WaitSignalled = 0,
  WaitTimedOut = 1,
  WaitAbandoned = 2,
  WaitFailed = 3,
};

// An auto-reset event on an eventfd. The driver signals it with one write per
// frame; a wait consumes every signal that came in meanwhile, so signals that
// meet no waiter collapse into one.
class FrameEvent {
 public:
  FrameEvent();
  ~FrameEvent();
  FrameEvent(const FrameEvent&) = delete;
  FrameEvent& operator=(const FrameEvent&) = delete;

  // Descriptor handed to the driver; -1 when the event could not be made.
  [[nodiscard]] int fd() const { return fd_; }
  bool Signal();
  WaitResult Wait(int timeout_ms = 1000);

 private:
  int fd_;
};

}  // namespace platform
