#pragma once

#include <cstdint>

namespace platform {

// What receives the frame-ready messages. Posting never waits for the receiver.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual void Post(uint32_t message) = 0;
};

using WindowHandle = MessageTarget*;

// Posts the message with both parameters 0; false when there is no window.
inline bool PostMessage(WindowHandle window, uint32_t message) {
  if (window == nullptr) return false;
  window->Post(message);
  return true;
}

}  // namespace platform
