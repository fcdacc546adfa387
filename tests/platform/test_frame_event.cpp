#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/frame_event.h"

using platform::FrameEvent;

TEST(FrameEvent, StartsUnsignalledAndTimesOut) {
  FrameEvent event;
  ASSERT_GE(event.fd(), 0);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(event.Wait(50), platform::WaitTimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(45));
}

TEST(FrameEvent, SignalsThatMeetNoWaiterCollapseIntoOne) {
  FrameEvent event;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(event.Signal());
  EXPECT_EQ(event.Wait(0), platform::WaitSignalled);
  // Auto-reset: the wait consumed every pending signal.
  EXPECT_EQ(event.Wait(0), platform::WaitTimedOut);
}

TEST(FrameEvent, DriverWriteOnTheDescriptorWakesAWaiter) {
  FrameEvent event;
  std::thread driver([fd = event.fd()] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t one = 1;
    ASSERT_EQ(write(fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  });
  EXPECT_EQ(event.Wait(1000), platform::WaitSignalled);
  driver.join();
}
