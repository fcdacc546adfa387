#pragma once

// The software triggers a camera was sent and its frames have not answered
// yet, in the order sent. A camera in trigger mode answers each trigger with
// one frame, in turn, so the frame that arrives answers the oldest trigger
// waiting; two cameras triggered together give their frames the same number.

#include <cstdint>
#include <deque>
#include <mutex>

class TriggerLedger {
 public:
  // Any thread.
  void Sent(uint64_t number) {
    const std::lock_guard lock(mutex_);
    waiting_.push_back(number);
  }
  // A trigger the driver refused exposes nothing.
  void Withdraw(uint64_t number) {
    const std::lock_guard lock(mutex_);
    std::erase(waiting_, number);
  }
  void Clear() {
    const std::lock_guard lock(mutex_);
    waiting_.clear();
  }
  // The trigger the newest of `frames` frames answered (more than one when
  // the driver counted frames that were never announced); 0 when no trigger
  // waits, as for a live frame.
  uint64_t Answer(uint64_t frames) {
    const std::lock_guard lock(mutex_);
    uint64_t answered = 0;
    for (; frames > 0 && !waiting_.empty(); --frames) {
      answered = waiting_.front();
      waiting_.pop_front();
    }
    return answered;
  }

 private:
  std::mutex mutex_;
  std::deque<uint64_t> waiting_;
};
