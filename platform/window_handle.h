#pragma once

#include <cstdint>
#include <string>

namespace platform {

// What receives the frame-ready messages. Posting never waits for the receiver.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual void Post(uint32_t message) = 0;
  // A line for the receiver's log, from a device after its set-up (a source
  // that stopped by itself). A receiver that keeps no log drops it.
  virtual void PostLine(const std::string& /*line*/) {}
};

using WindowHandle = MessageTarget*;

// Posts the message with both parameters 0; false when there is no window.
inline bool PostMessage(WindowHandle window, uint32_t message) {
  if (window == nullptr) return false;
  window->Post(message);
  return true;
}

// Posts a log line; false when there is no window.
inline bool PostLogLine(WindowHandle window, const std::string& line) {
  if (window == nullptr) return false;
  window->PostLine(line);
  return true;
}

}  // namespace platform
