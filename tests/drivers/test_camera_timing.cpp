// Frames on the camera's own clock: live rate, triggers, event signalling and
// the ranges that pixel clock, image size and frame rate impose on each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "tests/drivers/camera_session.h"

namespace driver_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class CameraTiming : public ::testing::Test {
 protected:
  void SetUp() override { camera_ = std::make_unique<CameraSession>(library_, 1, CameraSession::Format{}); }
  void TearDown() override { camera_.reset(); }

  // Frames announced within `span`, after the running ones have been drained.
  uint64_t FramesWithin(milliseconds span) {
    camera_->events().Take();
    std::this_thread::sleep_for(span);
    return camera_->events().Take();
  }

  HCAM handle() const { return camera_->handle(); }

  DriverLibrary library_{"libuEye_api.so"};
  std::unique_ptr<CameraSession> camera_;
};

TEST_F(CameraTiming, LiveFramesArriveAtTheRateSet) {
  for (double wanted : {12.5, 40.0}) {
    double in_effect = 0;
    ASSERT_EQ(DRIVER(library_, is_SetFrameRate)(handle(), wanted, &in_effect), IS_SUCCESS);
    EXPECT_NEAR(in_effect, wanted, wanted * 0.01);
    ASSERT_EQ(DRIVER(library_, is_CaptureVideo)(handle(), 0), IS_SUCCESS);
    ASSERT_GE(camera_->events().WaitFor(1, seconds(5)), 1u);  // first frame builds the lens tables
    const auto start = std::chrono::steady_clock::now();
    const uint64_t frames = FramesWithin(milliseconds(2000));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NEAR(frames / elapsed, in_effect, in_effect * 0.1) << frames << " frames in " << elapsed << " s";
    ASSERT_EQ(DRIVER(library_, is_StopLiveVideo)(handle(), 0), IS_SUCCESS);
  }
}

TEST_F(CameraTiming, StopReturnsAtOnceAndEndsTheFrames) {
  double in_effect = 0;
  ASSERT_EQ(DRIVER(library_, is_SetFrameRate)(handle(), 2.0, &in_effect), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library_, is_CaptureVideo)(handle(), 0), IS_SUCCESS);
  ASSERT_GE(camera_->events().WaitFor(1, seconds(5)), 1u);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(DRIVER(library_, is_StopLiveVideo)(handle(), 0), IS_SUCCESS);
  // Well under the 500 ms until the next frame is due: the call did not wait for it.
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(250));
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(FramesWithin(milliseconds(1200)), 0u);
}

TEST_F(CameraTiming, SoftwareTriggerGivesOneFramePerTriggerAndNoneWithout) {
  ASSERT_EQ(DRIVER(library_, is_SetExternalTrigger)(handle(), IS_SET_TRIGGER_SOFTWARE), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library_, is_CaptureVideo)(handle(), 0), IS_SUCCESS);
  EXPECT_EQ(FramesWithin(milliseconds(500)), 0u);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(DRIVER(library_, is_FreezeVideo)(handle(), 0), IS_SUCCESS);
    EXPECT_EQ(camera_->events().WaitFor(1, seconds(5)), 1u);
  }
  ASSERT_EQ(DRIVER(library_, is_ForceTrigger)(handle()), IS_SUCCESS);
  EXPECT_EQ(camera_->events().WaitFor(1, seconds(5)), 1u);
  // Triggers in quick succession are neither merged nor lost.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(DRIVER(library_, is_FreezeVideo)(handle(), 0), IS_SUCCESS);
  EXPECT_EQ(camera_->events().WaitFor(3, seconds(5)), 3u);
  EXPECT_EQ(FramesWithin(milliseconds(300)), 0u);
  // Trigger off again: live frames resume.
  ASSERT_EQ(DRIVER(library_, is_SetExternalTrigger)(handle(), IS_SET_TRIGGER_OFF), IS_SUCCESS);
  EXPECT_GE(camera_->events().WaitFor(2, seconds(5)), 2u);
}

TEST_F(CameraTiming, FreezeWithoutTriggerModeGivesOneFrame) {
  ASSERT_EQ(DRIVER(library_, is_FreezeVideo)(handle(), 0), IS_SUCCESS);
  EXPECT_EQ(camera_->events().WaitFor(1, seconds(5)), 1u);
  EXPECT_EQ(FramesWithin(milliseconds(300)), 0u);
  int32_t rendered = 0;
  int32_t announced = 0;
  ASSERT_EQ(DRIVER(library_, is_GetVsyncCount)(handle(), &rendered, &announced), IS_SUCCESS);
  EXPECT_EQ(rendered, 1);
  EXPECT_EQ(announced, 1);
}

TEST_F(CameraTiming, FreezeThatWaitsReturnsWithTheFrameDrawn) {
  ASSERT_EQ(DRIVER(library_, is_SetExternalTrigger)(handle(), IS_SET_TRIGGER_SOFTWARE), IS_SUCCESS);
  for (int32_t expected = 1; expected <= 2; ++expected) {
    ASSERT_EQ(DRIVER(library_, is_FreezeVideo)(handle(), 1), IS_SUCCESS);
    int32_t rendered = 0;
    int32_t announced = 0;
    ASSERT_EQ(DRIVER(library_, is_GetVsyncCount)(handle(), &rendered, &announced), IS_SUCCESS);
    EXPECT_EQ(rendered, expected);
  }
}

TEST_F(CameraTiming, EventIsSignalledOnlyWhileEnabled) {
  double in_effect = 0;
  ASSERT_EQ(DRIVER(library_, is_SetFrameRate)(handle(), 25.0, &in_effect), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library_, is_CaptureVideo)(handle(), 0), IS_SUCCESS);
  ASSERT_GE(camera_->events().WaitFor(2, seconds(5)), 2u);
  ASSERT_EQ(DRIVER(library_, is_DisableEvent)(handle(), IS_SET_EVENT_FRAME), IS_SUCCESS);
  camera_->events().Take();  // whatever came before the call returned
  int32_t rendered_before = 0;
  int32_t announced_before = 0;
  DRIVER(library_, is_GetVsyncCount)(handle(), &rendered_before, &announced_before);
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_EQ(camera_->events().Take(), 0u);
  int32_t rendered_after = 0;
  int32_t announced_after = 0;
  DRIVER(library_, is_GetVsyncCount)(handle(), &rendered_after, &announced_after);
  EXPECT_GT(rendered_after, rendered_before);  // the camera kept capturing
  EXPECT_EQ(announced_after, announced_before);
  ASSERT_EQ(DRIVER(library_, is_EnableEvent)(handle(), IS_SET_EVENT_FRAME), IS_SUCCESS);
  EXPECT_GE(camera_->events().WaitFor(2, seconds(5)), 2u);
}

TEST_F(CameraTiming, FramesAreWrittenIntoTheActiveMemory) {
  const size_t bytes = static_cast<size_t>(camera_->pitch()) * camera_->format().height;
  ASSERT_TRUE(camera_->Snap());
  const std::vector<uint8_t> first(camera_->pixels(), camera_->pixels() + bytes);
  EXPECT_NE(std::count(first.begin(), first.end(), 0), static_cast<ptrdiff_t>(bytes));
  ASSERT_TRUE(camera_->Snap());
  EXPECT_NE(std::memcmp(first.data(), camera_->pixels(), bytes), 0);  // noise and motion
  // A second memory made active takes the next frame; the first keeps its picture.
  char* other = nullptr;
  int32_t id = 0;
  ASSERT_EQ(DRIVER(library_, is_AllocImageMem)(handle(), 640, 480, 24, &other, &id), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library_, is_SetImageMem)(handle(), other, id), IS_SUCCESS);
  const std::vector<uint8_t> before(camera_->pixels(), camera_->pixels() + bytes);
  ASSERT_TRUE(camera_->Snap());
  EXPECT_EQ(std::memcmp(before.data(), camera_->pixels(), bytes), 0);
  EXPECT_NE(std::count(other, other + bytes, 0), static_cast<ptrdiff_t>(bytes));
}

class CameraRanges : public CameraTiming {
 protected:
  struct Times {
    double shortest, longest, step;
  };
  Times FrameTimes() {
    Times t{};
    EXPECT_EQ(DRIVER(library_, is_GetFrameTimeRange)(handle(), &t.shortest, &t.longest, &t.step), IS_SUCCESS);
    return t;
  }
  Times Exposures() {
    Times t{};
    EXPECT_EQ(DRIVER(library_, is_GetExposureRange)(handle(), &t.shortest, &t.longest, &t.step), IS_SUCCESS);
    return t;
  }
  double SetRate(double fps) {
    double in_effect = 0;
    EXPECT_EQ(DRIVER(library_, is_SetFrameRate)(handle(), fps, &in_effect), IS_SUCCESS);
    return in_effect;
  }
  double SetExposure(double ms) {
    double in_effect = 0;
    EXPECT_EQ(DRIVER(library_, is_SetExposureTime)(handle(), ms, &in_effect), IS_SUCCESS);
    return in_effect;
  }
};

TEST_F(CameraRanges, PixelClockRangeIsFiveToFortyMegahertz) {
  int32_t low = 0;
  int32_t high = 0;
  ASSERT_EQ(DRIVER(library_, is_GetPixelClockRange)(handle(), &low, &high), IS_SUCCESS);
  EXPECT_EQ(low, 5);
  EXPECT_EQ(high, 40);
}

TEST_F(CameraRanges, FrameTimeFollowsPixelClockAndImageSize) {
  ASSERT_EQ(DRIVER(library_, is_SetPixelClock)(handle(), 40), IS_SUCCESS);
  const Times fast = FrameTimes();
  EXPECT_GT(fast.shortest, 0.0);
  EXPECT_GT(fast.longest, fast.shortest);
  EXPECT_GT(fast.step, 0.0);
  EXPECT_GE(1.0 / fast.shortest, 100.0);  // a 640 x 480 pair can run at 100 frames per second
  ASSERT_EQ(DRIVER(library_, is_SetPixelClock)(handle(), 10), IS_SUCCESS);
  const Times slow = FrameTimes();
  EXPECT_NEAR(slow.shortest, fast.shortest * 4, fast.shortest * 0.01);
  EXPECT_NEAR(slow.step, fast.step * 4, fast.step * 0.01);
  ASSERT_EQ(DRIVER(library_, is_SetImageSize)(handle(), 320, 240), IS_SUCCESS);
  EXPECT_LT(FrameTimes().shortest, slow.shortest * 0.6);
}

TEST_F(CameraRanges, FrameRateIsClampedToTheFrameTimeRange) {
  ASSERT_EQ(DRIVER(library_, is_SetPixelClock)(handle(), 40), IS_SUCCESS);
  const Times times = FrameTimes();
  EXPECT_NEAR(SetRate(10000.0), 1.0 / times.shortest, 1e-6);
  EXPECT_NEAR(SetRate(0.001), 1.0 / times.longest, 1e-6);
  EXPECT_NEAR(SetRate(25.0), 25.0, 0.05);
  // The rate in effect is a whole number of line times.
  const double lines = (1.0 / SetRate(33.3) - times.shortest) / times.step;
  EXPECT_NEAR(lines, std::round(lines), 1e-6);
  // A slower pixel clock cannot hold a fast rate.
  EXPECT_NEAR(SetRate(100.0), 100.0, 0.5);
  ASSERT_EQ(DRIVER(library_, is_SetPixelClock)(handle(), 5), IS_SUCCESS);
  EXPECT_NEAR(SetRate(100.0), 1.0 / FrameTimes().shortest, 1e-6);
  EXPECT_LT(SetRate(100.0), 15.0);
}

TEST_F(CameraRanges, ExposureFollowsTheFrameTime) {
  ASSERT_EQ(DRIVER(library_, is_SetPixelClock)(handle(), 40), IS_SUCCESS);
  SetRate(25.0);
  const Times at25 = Exposures();
  EXPECT_GT(at25.shortest, 0.0);
  EXPECT_LE(at25.longest, 40.0);
  EXPECT_GT(at25.longest, 39.0);
  EXPECT_NEAR(SetExposure(30.0), 30.0, at25.step);
  EXPECT_NEAR(SetExposure(1000.0), at25.longest, 1e-9);
  EXPECT_NEAR(SetExposure(-5.0), at25.shortest, 1e-9);
  SetExposure(30.0);
  SetRate(100.0);
  const Times at100 = Exposures();
  EXPECT_LE(at100.longest, 10.0);
  EXPECT_NEAR(SetExposure(30.0), at100.longest, 1e-9);
}

TEST_F(CameraRanges, RefusesNotANumber) {
  double in_effect = 0;
  EXPECT_EQ(DRIVER(library_, is_SetFrameRate)(handle(), std::nan(""), &in_effect), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetExposureTime)(handle(), std::nan(""), &in_effect), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetFrameRate)(handle(), 25.0, nullptr), IS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace driver_test
