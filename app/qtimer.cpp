#include "app/qtimer.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Longest single sleep, so a changed Interval is taken up within this.
constexpr auto kLongestSleep = std::chrono::milliseconds(10);
// Periods beyond this (about eleven days), +infinity and NaN never come due.
constexpr double kFarthestMs = 1e9;

double MillisecondsSince(Clock::time_point since, Clock::time_point now) {
  return std::chrono::duration<double, std::milli>(now - since).count();
}

// The first moment strictly more than interval_ms after last.
Clock::time_point DueTime(Clock::time_point last, double interval_ms) {
  if (!(interval_ms < kFarthestMs)) return Clock::time_point::max();
  return last +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(interval_ms)) +
         Clock::duration(1);
}

}  // namespace

TQueryTimer::~TQueryTimer() {
  Terminate();
  WaitFor();
}

void TQueryTimer::SetPriorityBelowNormal() {
  below_normal_ = true;
  ApplyPriority();
}

void TQueryTimer::ApplyPriority() {
  const pid_t thread_id = thread_id_.load();
  if (!below_normal_.load() || thread_id == 0 || priority_applied_.exchange(true)) return;
  // Linux keeps a nice value per thread; raising it needs no privilege.
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread_id));
  if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), std::min(nice + 1, 19));
}

void TQueryTimer::Start() {
  if (thread_.joinable() || finished_.load()) return;
  thread_ = std::thread(&TQueryTimer::Execute, this);
}

void TQueryTimer::Terminate() {
  {
    std::lock_guard lock(wake_mutex_);
    terminate_ = true;
  }
  wake_.notify_all();
}

void TQueryTimer::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TQueryTimer::Execute() {
  thread_id_ = gettid();
  ApplyPriority();
  // The kernel may otherwise end each sleep up to 50 us late, on purpose.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  Clock::time_point last = Clock::now();
  while (!terminate_.load()) {
    const Clock::time_point now = Clock::now();
    const double interval_ms = Interval.load();
    if (MillisecondsSince(last, now) > interval_ms) {
      if (void (*on_timer)() = OnTimer.load()) on_timer();
      // The next period runs from the detection, so time spent in OnTimer
      // counts toward it and lateness is not made up.
      last = now;
      continue;
    }
    SleepUntil(std::min(DueTime(last, interval_ms), now + kLongestSleep));
  }
  finished_ = true;
}

void TQueryTimer::SleepUntil(std::chrono::steady_clock::time_point wake) {
  // An absolute wait on the monotonic clock: no polling, and Terminate cuts
  // it short.
  std::unique_lock lock(wake_mutex_);
  wake_.wait_until(lock, wake, [this] { return terminate_.load(); });
}
