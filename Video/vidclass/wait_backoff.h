#pragma once

#include <algorithm>
#include <chrono>

// How long a capture thread rests after a failed wait: a few milliseconds at
// first, doubling up to kLongest, so a source whose event is gone neither
// burns a core nor floods the window with announcements.
class WaitBackoff {
 public:
  static constexpr std::chrono::milliseconds kFirst{2};
  static constexpr std::chrono::milliseconds kLongest{100};

  // Records one failed wait; returns the rest before the next wait.
  std::chrono::milliseconds Failed() {
    next_ = failures_++ == 0 ? kFirst : std::min(next_ * 2, kLongest);
    return next_;
  }
  // A wait that did not fail ends the outage.
  void Succeeded() { failures_ = 0; }
  // True right after the first failure of an outage.
  [[nodiscard]] bool OutageBegan() const { return failures_ == 1; }

 private:
  int failures_ = 0;
  std::chrono::milliseconds next_{0};
};
