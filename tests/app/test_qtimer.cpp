#include <gtest/gtest.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "app/qtimer.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

// OnTimer is a plain procedure, so what it records lives here.
std::mutex firings_mutex;
std::vector<Clock::time_point> firings;
std::atomic<int> nice_seen{-100};

void RecordFiring() {
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(firings_mutex);
  firings.push_back(now);
}

void RecordNice() { nice_seen = getpriority(PRIO_PROCESS, 0); }

std::vector<Clock::time_point> Firings() {
  std::lock_guard lock(firings_mutex);
  return firings;
}

std::size_t FiringCount() {
  std::lock_guard lock(firings_mutex);
  return firings.size();
}

// Generous: the machine is shared and runs under the sanitizers.
bool WaitForFirings(std::size_t count, Milliseconds limit = Milliseconds(10000)) {
  const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
  while (FiringCount() < count) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

double ProcessCpuMs() {
  timespec time{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
  return time.tv_sec * 1000.0 + time.tv_nsec / 1e6;
}

// The firing is recorded a few instructions after the timer detected it;
// only a preemption in between could shift a recording by more.
constexpr double kRecordingSlackMs = 0.5;

class QueryTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard lock(firings_mutex);
    firings.clear();
  }
};

TEST_F(QueryTimerTest, CreatedSuspended) {
  TQueryTimer timer;
  timer.Interval = 1.0;
  timer.OnTimer = RecordFiring;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(FiringCount(), 0u);
  EXPECT_FALSE(timer.Finished());
  timer.WaitFor();
}

TEST_F(QueryTimerTest, NeverFiresEarlierThanIntervalAfterThePreviousFiring) {
  TQueryTimer timer;
  timer.Interval = 20.0;
  timer.OnTimer = RecordFiring;
  const Clock::time_point started = Clock::now();
  timer.Start();
  ASSERT_TRUE(WaitForFirings(8));
  timer.Terminate();
  timer.WaitFor();
  const std::vector<Clock::time_point> times = Firings();
  EXPECT_GE(Milliseconds(times[0] - started).count(), 20.0);
  for (std::size_t i = 1; i < times.size(); ++i)
    EXPECT_GE(Milliseconds(times[i] - times[i - 1]).count(), 20.0 - kRecordingSlackMs) << "firing " << i;
}

TEST_F(QueryTimerTest, ChangedIntervalTakesEffectAtTheNextFiring) {
  TQueryTimer timer;
  timer.Interval = 40.0;
  timer.OnTimer = RecordFiring;
  timer.Start();
  ASSERT_TRUE(WaitForFirings(1));
  timer.Interval = 400.0;
  ASSERT_TRUE(WaitForFirings(3));
  timer.Interval = 30.0;
  ASSERT_TRUE(WaitForFirings(5));
  timer.Terminate();
  timer.WaitFor();
  const std::vector<Clock::time_point> times = Firings();
  // The longer period holds from the firing after the change on.
  EXPECT_GE(Milliseconds(times[2] - times[1]).count(), 400.0 - kRecordingSlackMs);
  // The shorter one starts with the next firing, not one long period later.
  const double shortened = Milliseconds(times[3] - times[2]).count();
  EXPECT_LT(shortened, 300.0);
  EXPECT_GE(Milliseconds(times[4] - times[3]).count(), 30.0 - kRecordingSlackMs);
}

TEST_F(QueryTimerTest, RunsWithoutOnTimerAndFiresOnceItIsSet) {
  TQueryTimer timer;
  timer.Interval = 10.0;
  timer.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_FALSE(timer.Finished());
  timer.OnTimer = RecordFiring;
  ASSERT_TRUE(WaitForFirings(3));
  timer.OnTimer = nullptr;
  const std::size_t count = FiringCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_LE(FiringCount(), count + 1);
  const std::vector<Clock::time_point> times = Firings();
  EXPECT_GE(Milliseconds(times[2] - times[1]).count(), 10.0 - kRecordingSlackMs);
}

TEST_F(QueryTimerTest, TerminationEndsWithinOnePassWithoutFurtherFirings) {
  TQueryTimer timer;
  timer.Interval = 0.5;
  timer.OnTimer = RecordFiring;
  timer.Start();
  ASSERT_TRUE(WaitForFirings(5));
  timer.Terminate();
  // A pass that had already checked the flag may still fire once.
  const std::size_t at_request = FiringCount();
  timer.WaitFor();
  EXPECT_TRUE(timer.Finished());
  EXPECT_LE(FiringCount(), at_request + 1);
}

TEST_F(QueryTimerTest, InfiniteIntervalNeverFiresButStillEnds) {
  for (const double interval :
       {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    TQueryTimer timer;
    timer.Interval = interval;
    timer.OnTimer = RecordFiring;
    timer.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Clock::time_point requested = Clock::now();
    timer.Terminate();
    timer.WaitFor();
    EXPECT_LT(Milliseconds(Clock::now() - requested).count(), 1000.0);
    EXPECT_EQ(FiringCount(), 0u);
  }
}

TEST_F(QueryTimerTest, LongPeriodEndsPromptlyOnRequest) {
  const Clock::time_point requested = Clock::now();
  {
    TQueryTimer timer;
    timer.Interval = 60000.0;
    timer.OnTimer = RecordFiring;
    timer.Start();
  }
  EXPECT_LT(Milliseconds(Clock::now() - requested).count(), 1000.0);
  EXPECT_EQ(FiringCount(), 0u);
}

TEST_F(QueryTimerTest, NeverStartedTimerEndsQuietly) {
  TQueryTimer timer;
  timer.Terminate();
  timer.WaitFor();
  EXPECT_FALSE(timer.Finished());
  // A terminated timer started later ends at its first check.
  timer.OnTimer = RecordFiring;
  timer.Interval = 0.0;
  timer.Start();
  timer.WaitFor();
  EXPECT_TRUE(timer.Finished());
  EXPECT_EQ(FiringCount(), 0u);
}

TEST_F(QueryTimerTest, RunsOneStepBelowTheCreatorsPriority) {
  const int creator_nice = getpriority(PRIO_PROCESS, 0);
  if (creator_nice >= 19) GTEST_SKIP() << "already at the lowest priority";
  TQueryTimer timer;
  timer.SetPriorityBelowNormal();
  timer.Interval = 1.0;
  timer.OnTimer = RecordNice;
  timer.Start();
  const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
  while (nice_seen.load() == -100 && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(nice_seen.load(), creator_nice + 1);
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), creator_nice);
}

TEST_F(QueryTimerTest, WaitingDoesNotSpinACore) {
  TQueryTimer timer;
  timer.Interval = 50.0;
  timer.OnTimer = RecordFiring;
  const double cpu_before = ProcessCpuMs();
  const Clock::time_point started = Clock::now();
  timer.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  timer.Terminate();
  timer.WaitFor();
  const double wall_ms = Milliseconds(Clock::now() - started).count();
  // A polling loop would use about one core for the whole run.
  EXPECT_LT(ProcessCpuMs() - cpu_before, 0.5 * wall_ms);
  EXPECT_GE(FiringCount(), 2u);
}

}  // namespace
