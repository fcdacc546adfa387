#pragma once

// The software triggers a camera was sent and its frames have not answered
// yet, in the order sent. A camera in trigger mode answers each trigger with
// one frame, in turn, so the frame that arrives answers the oldest trigger
// waiting; two cameras triggered together give their frames the same number.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>

class TriggerLedger {
 public:
  using Clock = std::chrono::steady_clock;

  // Any thread.
  void Sent(uint64_t number, Clock::time_point when = Clock::now()) {
    const std::lock_guard lock(mutex_);
    waiting_.push_back({number, when});
  }
  // A trigger the driver refused exposes nothing.
  void Withdraw(uint64_t number) {
    const std::lock_guard lock(mutex_);
    std::erase_if(waiting_, [number](const Waiting& trigger) { return trigger.Number == number; });
  }
  // True while a trigger sent less than `lost_after` ago waits for its
  // frame: a camera still busy with it would ignore the next one, and its
  // later frames would answer the wrong numbers. Triggers that waited
  // longer went unanswered and are dropped.
  bool AwaitsFrame(Clock::time_point now, Clock::duration lost_after) {
    const std::lock_guard lock(mutex_);
    std::erase_if(waiting_, [&](const Waiting& trigger) { return now - trigger.Sent >= lost_after; });
    return !waiting_.empty();
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
      answered = waiting_.front().Number;
      waiting_.pop_front();
    }
    return answered;
  }

 private:
  struct Waiting {
    uint64_t Number;
    Clock::time_point Sent;
  };
  std::mutex mutex_;
  std::deque<Waiting> waiting_;
};
