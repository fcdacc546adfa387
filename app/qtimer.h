#pragma once

// A periodic timer thread on the monotonic clock, finer than the window
// system's timers. It calls OnTimer once each Interval milliseconds, measured
// from the moment the previous firing was detected: never early, and lateness
// is not made up.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

class TQueryTimer {
 public:
  // Created suspended: nothing runs until Start.
  TQueryTimer() = default;
  // Requests termination and waits for the thread to end.
  ~TQueryTimer();
  TQueryTimer(const TQueryTimer&) = delete;
  TQueryTimer& operator=(const TQueryTimer&) = delete;

  // Period in milliseconds, read afresh on every pass; +infinity (or NaN)
  // never fires.
  std::atomic<double> Interval{std::numeric_limits<double>::infinity()};
  // Called on the timer thread at each firing; may be unset.
  std::atomic<void (*)()> OnTimer{nullptr};

  // One nice step below the process, so triggering yields to the
  // user-interface and capture threads.
  void SetPriorityBelowNormal();
  // Starts the thread; further calls do nothing.
  void Start();
  // Requests termination only; the thread ends within one pass and calls
  // OnTimer no more once it has seen the request.
  void Terminate();
  bool Terminated() const { return terminate_.load(); }
  // Joins the thread; returns at once when it was never started.
  void WaitFor();
  // True once the thread body has returned.
  bool Finished() const { return finished_.load(); }

 private:
  void Execute();
  void ApplyPriority();
  // Sleeps until that moment unless termination is requested first.
  void SleepUntil(std::chrono::steady_clock::time_point wake);

  std::thread thread_;
  std::atomic<bool> terminate_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> below_normal_{false};
  std::atomic<pid_t> thread_id_{0};
  std::atomic<bool> priority_applied_{false};
  std::mutex wake_mutex_;
  std::condition_variable wake_;
};
