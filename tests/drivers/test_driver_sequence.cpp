// A ring of image memories as the driver's sequence: filled in turn, a locked
// memory skipped, a frame with every memory locked dropped and counted, and
// each memory's frame number, time of exposure and (stamped rig) trigger number.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/drivers/camera_session.h"

namespace driver_test {
namespace {

constexpr int kRing = 3;

uint32_t StampOfRow(const char* memory, int32_t pitch, int row) {
  uint32_t stamp = 0;
  std::memcpy(&stamp, memory + static_cast<ptrdiff_t>(row) * pitch, sizeof stamp);
  return stamp;
}

class CameraSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("STEREO_SIM_STAMP", "1", 1);
    session_ = std::make_unique<CameraSession>(library_, 1, CameraSession::Format{});
    unsetenv("STEREO_SIM_STAMP");
    ASSERT_EQ(DRIVER(library_, is_SetExternalTrigger)(handle(), IS_SET_TRIGGER_SOFTWARE), IS_SUCCESS);
    for (auto& [memory, id] : ring_) {
      ASSERT_EQ(DRIVER(library_, is_AllocImageMem)(handle(), 640, 480, 24, &memory, &id), IS_SUCCESS);
      ASSERT_EQ(DRIVER(library_, is_AddToSequence)(handle(), memory, id), IS_SUCCESS);
    }
  }
  HCAM handle() const { return session_->handle(); }
  UEYEIMAGEINFO Info(int index) {
    UEYEIMAGEINFO info{};
    EXPECT_EQ(DRIVER(library_, is_GetImageInfo)(handle(), ring_[index].second, &info, sizeof info),
              IS_SUCCESS);
    return info;
  }
  char* LastFilled() {
    int32_t number = 0;
    char* filling = nullptr;
    char* last = nullptr;
    EXPECT_EQ(DRIVER(library_, is_GetActSeqBuf)(handle(), &number, &filling, &last), IS_SUCCESS);
    return last;
  }
  int32_t Lock(int index, bool lock) {
    return lock ? DRIVER(library_, is_LockSeqBuf)(handle(), IS_IGNORE_PARAMETER, ring_[index].first)
                : DRIVER(library_, is_UnlockSeqBuf)(handle(), IS_IGNORE_PARAMETER, ring_[index].first);
  }
  int32_t Dropped() {
    int32_t count = -1;
    EXPECT_EQ(DRIVER(library_, stereo_sim_FramesDropped)(handle(), &count), IS_SUCCESS);
    return count;
  }

  DriverLibrary library_{"libuEye_api.so"};
  std::unique_ptr<CameraSession> session_;
  std::array<std::pair<char*, int32_t>, kRing> ring_{};
};

TEST_F(CameraSequence, FillsTheRingInTurnWithNumberedTimedStampedFrames) {
  for (int i = 0; i < kRing; ++i)
    EXPECT_EQ(Info(i).u64FrameNumber, 0u) << "memory " << i << " holds no frame yet";
  for (int frame = 0; frame < 2 * kRing; ++frame) {
    const auto before = std::chrono::steady_clock::now().time_since_epoch();
    ASSERT_TRUE(session_->Snap());
    const auto after = std::chrono::steady_clock::now().time_since_epoch();
    const int index = frame % kRing;
    EXPECT_EQ(LastFilled(), ring_[index].first);
    const UEYEIMAGEINFO info = Info(index);
    EXPECT_EQ(info.u64FrameNumber, static_cast<uint64_t>(frame + 1));
    // Exposed at the trigger, not when drawn.
    const auto exposed = std::chrono::nanoseconds(info.u64TimestampDevice * 100);
    EXPECT_GE(exposed + std::chrono::microseconds(1), before);
    EXPECT_LE(exposed, after);
    // Trigger numbers count from the switch into trigger mode.
    EXPECT_EQ(StampOfRow(ring_[index].first, session_->pitch(), 0), static_cast<uint32_t>(frame + 1));
    EXPECT_EQ(StampOfRow(ring_[index].first, session_->pitch(), 479), static_cast<uint32_t>(frame + 1));
  }
  EXPECT_EQ(Dropped(), 0);
}

TEST_F(CameraSequence, ALockedMemoryIsSkippedAndKeepsItsFrame) {
  ASSERT_TRUE(session_->Snap());
  ASSERT_EQ(Lock(0, true), IS_SUCCESS);
  const UEYEIMAGEINFO held = Info(0);
  for (int frame = 0; frame < 4; ++frame) {
    ASSERT_TRUE(session_->Snap());
    EXPECT_NE(LastFilled(), ring_[0].first);
  }
  EXPECT_EQ(Info(0).u64FrameNumber, held.u64FrameNumber);
  EXPECT_EQ(StampOfRow(ring_[0].first, session_->pitch(), 0), 1u);
  ASSERT_EQ(Lock(0, false), IS_SUCCESS);
  ASSERT_TRUE(session_->Snap());
  ASSERT_TRUE(session_->Snap());
  EXPECT_GT(Info(0).u64FrameNumber, held.u64FrameNumber);
}

TEST_F(CameraSequence, EveryMemoryLockedDropsAndCountsTheFrame) {
  for (int i = 0; i < kRing; ++i) ASSERT_EQ(Lock(i, true), IS_SUCCESS);
  session_->events().Take();
  ASSERT_EQ(DRIVER(library_, is_FreezeVideo)(handle(), 0), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library_, is_FreezeVideo)(handle(), 0), IS_SUCCESS);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Dropped() < 2 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Dropped(), 2);
  EXPECT_EQ(session_->events().Take(), 0u) << "a dropped frame is not announced";
  ASSERT_EQ(Lock(1, false), IS_SUCCESS);
  EXPECT_TRUE(session_->Snap());
  EXPECT_EQ(LastFilled(), ring_[1].first);
}

TEST_F(CameraSequence, RefusesForeignMemoriesAndBadRecords) {
  char foreign[16] = {};
  EXPECT_EQ(DRIVER(library_, is_LockSeqBuf)(handle(), IS_IGNORE_PARAMETER, foreign), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_AddToSequence)(handle(), ring_[0].first, ring_[0].second),
            IS_INVALID_PARAMETER);
  UEYEIMAGEINFO info{};
  EXPECT_EQ(DRIVER(library_, is_GetImageInfo)(handle(), ring_[0].second, &info, 8), IS_INVALID_PARAMETER);
  ASSERT_EQ(DRIVER(library_, is_ClearSequence)(handle()), IS_SUCCESS);
  EXPECT_EQ(Lock(0, true), IS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace driver_test
