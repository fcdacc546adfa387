#include "frame_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FrameEvent::FrameEvent() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

FrameEvent::~FrameEvent() {
  if (fd_ >= 0) close(fd_);
}

bool FrameEvent::Signal() {
  if (fd_ < 0) return false;
  const uint64_t one = 1;
  return write(fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

WaitResult FrameEvent::Wait(int timeout_ms) {
  if (fd_ < 0) return WaitFailed;
  pollfd pfd{fd_, POLLIN, 0};
  int ready;
  do {
    ready = poll(&pfd, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return WaitFailed;
  if (ready == 0) return WaitTimedOut;
  uint64_t count = 0;
  // Another waiter may have drained it first; that is a time-out for us.
  if (read(fd_, &count, sizeof count) != static_cast<ssize_t>(sizeof count))
    return errno == EAGAIN ? WaitTimedOut : WaitFailed;
  return WaitSignalled;
}

}  // namespace platform
