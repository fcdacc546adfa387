#include "app/qtimer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Sleeping ends this long before the due time; the rest is polled, because a
// sleep may overshoot by the scheduler's slack.
constexpr double kPollMarginMs = 1.5;
// Longest single sleep, so a shortened Interval is noticed within a few
// milliseconds.
constexpr double kLongestSleepMs = 2.0;

double MillisecondsSince(Clock::time_point since, Clock::time_point now) {
  return std::chrono::duration<double, std::milli>(now - since).count();
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
  Clock::time_point last = Clock::now();
  while (!terminate_.load()) {
    const Clock::time_point now = Clock::now();
    const double interval_ms = Interval.load();
    const double elapsed_ms = MillisecondsSince(last, now);
    if (elapsed_ms > interval_ms) {
      if (void (*on_timer)() = OnTimer.load()) on_timer();
      // The next period runs from the detection, so time spent in OnTimer
      // counts toward it and lateness is not made up.
      last = now;
      continue;
    }
    // NaN compares false both ways and, like +infinity, never comes due.
    WaitTowards(interval_ms > elapsed_ms ? interval_ms - elapsed_ms : kLongestSleepMs + kPollMarginMs);
  }
  finished_ = true;
}

void TQueryTimer::WaitTowards(double remaining_ms) {
  if (remaining_ms <= kPollMarginMs) {
    std::this_thread::yield();
    return;
  }
  const double sleep_ms = std::min(remaining_ms - kPollMarginMs, kLongestSleepMs);
  std::unique_lock lock(wake_mutex_);
  wake_.wait_for(lock, std::chrono::duration<double, std::milli>(sleep_ms),
                 [this] { return terminate_.load(); });
}
