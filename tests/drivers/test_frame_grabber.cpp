// The frame-grabber board: one PAL-sized grey board on event 4, scaler and
// input accepted, frames at the video rate.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <thread>

#include "tests/drivers/camera_session.h"

namespace driver_test {
namespace {

constexpr CameraSession::Format kPal{768, 576, 8, IS_CM_MONO8};

TEST(FrameGrabber, OneBoardOpensOnceWithAZeroRequest) {
  DriverLibrary library("libfalcon.so");
  HCAM board = 0;
  ASSERT_EQ(DRIVER(library, is_InitBoard)(&board, nullptr), IS_SUCCESS);
  EXPECT_NE(board, 0u);
  HCAM second = 0;
  EXPECT_EQ(DRIVER(library, is_InitBoard)(&second, nullptr), IS_CANT_OPEN_DEVICE);
  EXPECT_EQ(DRIVER(library, is_ExitBoard)(board), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_ExitBoard)(board), IS_INVALID_HANDLE);
  HCAM absent = 5;
  EXPECT_EQ(DRIVER(library, is_InitBoard)(&absent, nullptr), IS_CANT_OPEN_DEVICE);
  EXPECT_EQ(DRIVER(library, is_SetScaler)(0, 1.0f, 1.0f), IS_INVALID_HANDLE);
}

TEST(FrameGrabber, DeliversPalFramesAtTheVideoRateOnEventFour) {
  DriverLibrary library("libfalcon.so");
  CameraSession board(library, 0, kPal, true);
  int32_t bits = 0;
  int32_t mode = -1;
  ASSERT_EQ(DRIVER(library, is_GetColorDepth)(board.handle(), &bits, &mode), IS_SUCCESS);
  EXPECT_EQ(mode, IS_CM_MONO8);
  EXPECT_EQ(board.pitch(), 768);
  EXPECT_EQ(DRIVER(library, is_InitEvent)(board.handle(), board.events().fd(), IS_SET_EVENT_FRAME),
            IS_INVALID_PARAMETER);
  // The program re-registers and enables the event when it switches trigger mode.
  EXPECT_EQ(DRIVER(library, is_InitEvent)(board.handle(), board.events().fd(), IS_SET_EVENT_BOARD_FRAME),
            IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_EnableEvent)(board.handle(), IS_SET_EVENT_BOARD_FRAME), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library, is_CaptureVideo)(board.handle(), 0), IS_SUCCESS);
  ASSERT_GE(board.events().WaitFor(1, std::chrono::seconds(5)), 1u);
  board.events().Take();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  const uint64_t frames = board.events().Take();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_NEAR(frames / elapsed, 25.0, 2.5);
  const cv::Mat picture(576, 768, CV_8UC1, const_cast<uint8_t*>(board.pixels()));
  double lowest = 0, highest = 0;
  cv::minMaxLoc(picture, &lowest, &highest);
  EXPECT_GT(highest - lowest, 100.0);  // a board, not a flat grey
  ASSERT_EQ(DRIVER(library, is_StopLiveVideo)(board.handle(), 0), IS_SUCCESS);
}

TEST(FrameGrabber, AcceptsScalerAndInputAndRefusesOversizedImages) {
  DriverLibrary library("libfalcon.so");
  CameraSession board(library, 0, kPal, true);
  EXPECT_EQ(DRIVER(library, is_SetScaler)(board.handle(), 1.0f, 1.0f), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetScaler)(board.handle(), 1.0f, 0.0f), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetScaler)(board.handle(), -1.0f, 1.0f), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library, is_SetVideoInput)(board.handle(), 1), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetVideoInput)(board.handle(), 9), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library, is_SetVideoMode)(board.handle(), 0), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetBrightness)(board.handle(), 128), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetImageSize)(board.handle(), 384, 288), IS_SUCCESS);
  char* large = nullptr;
  int32_t id = 0;
  ASSERT_EQ(DRIVER(library, is_AllocImageMem)(board.handle(), 1024, 768, 8, &large, &id), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library, is_SetImageMem)(board.handle(), large, id), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetImageSize)(board.handle(), 1024, 768), IS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace driver_test
