// The capture thread of the device base: what it announces, in which order,
// and that destroying a device always ends its thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "Video/vidclass/vidclass.h"
#include "video_test_support.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 5000ms;
const std::string kCallback = "callback";

std::atomic<int> waitsOfAllDevices{0};

// A device whose frames the test signals itself.
class SignalledDevice : public tVideoDevice {
 public:
  explicit SignalledDevice(platform::WindowHandle window,
                           TVideoThread::Start start = TVideoThread::Start::Running) {
    WindowHandle = window;
    CreateThread(start);
  }
  ~SignalledDevice() override { EndThread(); }

  void SignalFrame() { Thread->FrameEvent.Signal(); }

  platform::WaitResult WaitForFrame() override {
    ++Waits;
    ++waitsOfAllDevices;
    if (FailNextWait.exchange(false) || FailWaits.load()) return platform::WaitFailed;
    return tVideoDevice::WaitForFrame();
  }

  std::atomic<int> Waits{0};
  std::atomic<bool> FailNextWait{false};
  std::atomic<bool> FailWaits{false};
};

class CaptureThread : public ::testing::Test {
 protected:
  void SetUp() override { AnnouncementLog::Instance().Clear(); }
  std::vector<std::string> Announced() { return AnnouncementLog::Instance().Entries(); }
  bool WaitFor(const std::string& entry, std::size_t count) {
    return AnnouncementLog::Instance().WaitFor(entry, count, kPatience);
  }

  RecordingWindow window_;
};

TEST_F(CaptureThread, AnnouncesEachFrameByCallbackThenMessage) {
  SignalledDevice device(&window_);
  device.Init(kFirstSourceMessage);
  device.FrameCallback = RecordingFrameCallback;

  device.SignalFrame();
  ASSERT_TRUE(WaitFor(MessageEntry(2024), 1));
  device.SignalFrame();
  ASSERT_TRUE(WaitFor(MessageEntry(2024), 2));

  const std::vector<std::string> expected{kCallback, MessageEntry(2024), kCallback, MessageEntry(2024)};
  EXPECT_EQ(Announced(), expected);
}

TEST_F(CaptureThread, MessageZeroStillCallsTheCallbackButPostsNothing) {
  SignalledDevice device(&window_);
  device.Init(0);
  device.FrameCallback = RecordingFrameCallback;

  device.SignalFrame();
  ASSERT_TRUE(WaitFor(kCallback, 1));
  // The second callback runs after the first announcement is complete.
  device.SignalFrame();
  ASSERT_TRUE(WaitFor(kCallback, 2));

  EXPECT_EQ(Announced(), (std::vector<std::string>{kCallback, kCallback}));
}

TEST_F(CaptureThread, WithoutCallbackOnlyTheMessageIsPosted) {
  SignalledDevice device(&window_);
  device.Init(kSecondSourceMessage);

  device.SignalFrame();
  ASSERT_TRUE(WaitFor(MessageEntry(2025), 1));
  device.SignalFrame();
  ASSERT_TRUE(WaitFor(MessageEntry(2025), 2));

  EXPECT_EQ(Announced(), (std::vector<std::string>{MessageEntry(2025), MessageEntry(2025)}));
}

TEST_F(CaptureThread, TimeOutsAnnounceNothingAndKeepTheThreadWaking) {
  SignalledDevice device(&window_);
  device.Init(kFirstSourceMessage);
  device.FrameCallback = RecordingFrameCallback;

  std::this_thread::sleep_for(2500ms);

  EXPECT_EQ(Announced(), std::vector<std::string>{});
  // The thread came back from at least one time-out to look at its flag.
  EXPECT_GE(device.Waits.load(), 2);
}

// The thread must not run before the device holds it: it would find no
// event and announce failed waits as frames.
TEST_F(CaptureThread, NewDeviceAnnouncesNothingBeforeItsFirstFrame) {
  for (int i = 0; i < 50; ++i) {
    SignalledDevice device(&window_);
    device.Init(kFirstSourceMessage);
    device.FrameCallback = RecordingFrameCallback;
  }
  EXPECT_EQ(Announced(), std::vector<std::string>{});
}

TEST_F(CaptureThread, FailedWaitCountsAsAFrame) {
  SignalledDevice device(&window_);
  device.Init(kFirstSourceMessage);
  device.FailNextWait = true;
  // The first wait may already be running; a signal ends it so the failure
  // is seen by the next one.
  device.SignalFrame();

  ASSERT_TRUE(WaitFor(MessageEntry(2024), 2));
}

// A source whose event is gone: its waits fail at once, every time.
TEST_F(CaptureThread, FailingWaitsBackOffAndLogOneLinePerOutage) {
  SignalledDevice device(&window_);
  device.Init(kFirstSourceMessage);
  device.FailWaits = true;
  device.SignalFrame();
  std::this_thread::sleep_for(600ms);
  // Rests of 2, 4, ... 64 ms, then 100 ms: about a dozen waits, not millions.
  const int waits = device.Waits.load();
  EXPECT_GE(waits, 5);
  EXPECT_LE(waits, 20);
  const std::string line = LineEntry(WaitFailureLine(kFirstSourceMessage));
  EXPECT_EQ(AnnouncementLog::Instance().Count(line), 1u);

  // Frames again end the outage; the next one is logged once more.
  device.FailWaits = false;
  const int before = device.Waits.load();
  device.SignalFrame();
  for (int i = 0; i < 500 && device.Waits.load() < before + 2; ++i) std::this_thread::sleep_for(2ms);
  ASSERT_GE(device.Waits.load(), before + 2);
  device.FailWaits = true;
  device.SignalFrame();
  ASSERT_TRUE(WaitFor(line, 2));
}

TEST_F(CaptureThread, SuspendedThreadAnnouncesNothingUntilReleased) {
  SignalledDevice device(&window_, TVideoThread::Start::Suspended);
  device.Init(kFirstSourceMessage);
  device.SignalFrame();
  device.SignalFrame();
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(Announced().empty());
  EXPECT_EQ(device.Waits.load(), 0);

  device.Thread->Release();
  ASSERT_TRUE(WaitFor(MessageEntry(2024), 1));
}

TEST_F(CaptureThread, EachDeviceWakesOnlyOnItsOwnFrames) {
  SignalledDevice first(&window_);
  SignalledDevice second(&window_);
  first.Init(kFirstSourceMessage);
  second.Init(kSecondSourceMessage);

  first.SignalFrame();
  first.SignalFrame();
  ASSERT_TRUE(WaitFor(MessageEntry(2024), 1));
  std::this_thread::sleep_for(200ms);

  EXPECT_EQ(AnnouncementLog::Instance().Count(MessageEntry(2025)), 0u);
  EXPECT_NE(first.Thread->FrameEvent.fd(), second.Thread->FrameEvent.fd());
}

// Destruction.

std::atomic<bool> slowCallbackStarted{false};
std::atomic<bool> slowCallbackFinished{false};

void SlowCallback() {
  slowCallbackStarted = true;
  std::this_thread::sleep_for(300ms);
  slowCallbackFinished = true;
}

TEST_F(CaptureThread, DestructionWaitsForTheAnnouncementInProgress) {
  slowCallbackStarted = false;
  slowCallbackFinished = false;
  auto device = std::make_unique<SignalledDevice>(&window_);
  device->Init(kFirstSourceMessage);
  device->FrameCallback = SlowCallback;
  device->SignalFrame();
  while (!slowCallbackStarted) std::this_thread::sleep_for(1ms);

  device.reset();

  EXPECT_TRUE(slowCallbackFinished);
  // The message of that frame was posted before the thread ended.
  EXPECT_EQ(Announced(), std::vector<std::string>{MessageEntry(2024)});
}

TEST_F(CaptureThread, DestructionAnnouncesNoFrame) {
  {
    SignalledDevice device(&window_);
    device.Init(kFirstSourceMessage);
    device.FrameCallback = RecordingFrameCallback;
    std::this_thread::sleep_for(50ms);
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(Announced().empty());
}

TEST_F(CaptureThread, DestructionEndsAThreadThatWasNeverReleased) {
  auto device = std::make_unique<SignalledDevice>(&window_, TVideoThread::Start::Suspended);
  device->SignalFrame();
  device.reset();
  EXPECT_TRUE(Announced().empty());
}

TEST_F(CaptureThread, DestructionBeforeInitEndsTheThread) {
  auto device = std::make_unique<SignalledDevice>(&window_);
  while (device->Waits.load() == 0) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(device->State, -1);
  device.reset();

  const int waitsAtDestruction = waitsOfAllDevices.load();
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(waitsOfAllDevices.load(), waitsAtDestruction);
}

// The trigger timer sends the next trigger only when no camera still waits
// for a frame of the last; a trigger no frame answered in time was lost and
// keeps nothing waiting, so no later frame takes its number.
TEST(TriggerLedger, AwaitsTheFrameOfASentTriggerUntilAnsweredOrLost) {
  TriggerLedger ledger;
  const auto sent = TriggerLedger::Clock::now();
  ledger.Sent(7, sent);
  EXPECT_TRUE(ledger.AwaitsFrame(sent + 999ms, 1s));
  EXPECT_EQ(ledger.Answer(1), 7U);
  EXPECT_FALSE(ledger.AwaitsFrame(sent + 10ms, 1s));
  ledger.Sent(8, sent);
  EXPECT_FALSE(ledger.AwaitsFrame(sent + 1s, 1s));
  EXPECT_EQ(ledger.Answer(1), 0U);
}

}  // namespace
