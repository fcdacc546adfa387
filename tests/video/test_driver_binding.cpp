// Loading the driver libraries: a library lacking a function the program calls
// is refused as a whole; devices on a library that is not loaded fail cleanly.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass_falcon.h"
#include "Video/vidclass/vidclass_ueye.h"
#include "video_test_support.h"

namespace {

using ::testing::HasSubstr;

class DriverBinding : public ::testing::Test {
 protected:
  void TearDown() override {
    uEyeimp::Release();
    falcimp::Release();
  }
};

TEST_F(DriverBinding, CompleteLibraryLoadsEveryEntry) {
  ASSERT_TRUE(uEyeimp::LoadFrom(FakeDriver::kFile));
  EXPECT_TRUE(uEyeimp::Loaded());
  EXPECT_NE(uEyeimp::Api().is_InitCamera, nullptr);
  EXPECT_NE(uEyeimp::Api().is_DisableEvent, nullptr);
  EXPECT_NE(uEyeimp::Api().is_SetSaturation, nullptr);

  ASSERT_TRUE(falcimp::LoadFrom(FakeDriver::kFile));
  EXPECT_NE(falcimp::Api().is_InitBoard, nullptr);
  EXPECT_NE(falcimp::Api().is_SetScaler, nullptr);
}

TEST_F(DriverBinding, MissingLibraryIsNotLoaded) {
  EXPECT_FALSE(uEyeimp::LoadFrom("libvideo_no_such_driver.so"));
  EXPECT_FALSE(uEyeimp::Loaded());
  EXPECT_EQ(uEyeimp::Api().is_InitCamera, nullptr);
}

TEST_F(DriverBinding, LibraryLackingACalledFunctionIsRefusedAndNamed) {
  ::testing::internal::CaptureStderr();
  const bool loaded = uEyeimp::LoadFrom("libvideo_fake_no_freeze.so");
  const std::string errors = ::testing::internal::GetCapturedStderr();

  EXPECT_FALSE(loaded);
  EXPECT_FALSE(uEyeimp::Loaded());
  EXPECT_EQ(uEyeimp::Api().is_InitCamera, nullptr);
  EXPECT_THAT(errors, HasSubstr("is_FreezeVideo"));
}

TEST_F(DriverBinding, EachLibraryIsJudgedByTheFunctionsCalledOnIt) {
  // The board has no software trigger, so the same library serves it.
  EXPECT_TRUE(falcimp::LoadFrom("libvideo_fake_no_freeze.so"));

  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(falcimp::LoadFrom("libvideo_fake_no_scaler.so"));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("is_SetScaler"));
  EXPECT_FALSE(falcimp::Loaded());
  EXPECT_TRUE(uEyeimp::LoadFrom("libvideo_fake_no_scaler.so"));
}

TEST_F(DriverBinding, LibraryLackingOnlyAnUnusedFunctionLoads) {
  ASSERT_TRUE(uEyeimp::LoadFrom("libvideo_fake_no_saturation.so"));
  ASSERT_TRUE(falcimp::LoadFrom("libvideo_fake_no_saturation.so"));
  EXPECT_EQ(uEyeimp::Api().is_SetSaturation, nullptr);
  EXPECT_EQ(falcimp::Api().is_SetSaturation, nullptr);
  EXPECT_NE(uEyeimp::Api().is_FreezeVideo, nullptr);
}

TEST_F(DriverBinding, Regression_LibraryWithOnlyTheNamesEveryDriverHasLoads) {
  ASSERT_TRUE(uEyeimp::LoadFrom("libvideo_fake_listed_only.so"));
  ASSERT_TRUE(falcimp::LoadFrom("libvideo_fake_listed_only.so"));
  EXPECT_EQ(uEyeimp::Api().is_AddToSequence, nullptr);
  EXPECT_EQ(uEyeimp::Api().is_GetImageInfo, nullptr);
  EXPECT_EQ(falcimp::Api().is_LockSeqBuf, nullptr);
  EXPECT_NE(uEyeimp::Api().is_FreezeVideo, nullptr);
  EXPECT_NE(falcimp::Api().is_SetScaler, nullptr);
}

TEST_F(DriverBinding, ReleaseEmptiesTheEntries) {
  ASSERT_TRUE(uEyeimp::LoadFrom(FakeDriver::kFile));
  uEyeimp::Release();
  EXPECT_FALSE(uEyeimp::Loaded());
  EXPECT_EQ(uEyeimp::Api().is_FreezeVideo, nullptr);
}

// Devices whose library is not loaded never call through a null entry.

class DeviceWithoutDriver : public DriverBinding {
 protected:
  void SetUp() override {
    uEyeimp::Release();
    falcimp::Release();
  }
  RecordingWindow window_;
};

TEST_F(DeviceWithoutDriver, CameraStaysClosedAndEveryCallFails) {
  tVideoDeviceuEye camera(1, &window_);
  EXPECT_EQ(camera.State, -1);
  EXPECT_EQ(camera.Handle, 0u);
  EXPECT_NE(camera.LastResult, 0);
  EXPECT_TRUE(camera.Inputs.empty());

  camera.Width = 640;
  camera.Height = 480;
  camera.Channels = 3;
  camera.Init(kFirstSourceMessage);
  EXPECT_EQ(camera.Log, std::vector<std::string>{"uEye Alloc -1 00000000 0"});
  EXPECT_EQ(camera.State, -1);
  ASSERT_NE(camera.Image, nullptr);
  EXPECT_EQ(camera.Image->imageData, nullptr);

  camera.Start();
  EXPECT_EQ(camera.LastResult, -1);
  camera.Trigger();
  EXPECT_EQ(camera.LastResult, -1);
  camera.SetBrightness(0.5);
  EXPECT_EQ(camera.Brightness, 0.5);
  ValueRange range{9, 9, 9};
  camera.GetFrameRateRange(range);
  EXPECT_EQ(range.Maximum, 0.0);
}

TEST_F(DeviceWithoutDriver, BoardStaysClosedAndInitStopsAtTheFirstCall) {
  tVideoDeviceFalcon board(0, &window_);
  EXPECT_EQ(board.State, -1);
  board.Init(kSecondSourceMessage);
  EXPECT_EQ(board.Log, std::vector<std::string>{"Falcon Alloc -1 00000000 0"});
  EXPECT_EQ(board.Image, nullptr);  // no channel count was ever set
  board.SetTriggerMode(true);
  EXPECT_EQ(board.LastResult, -1);
}

}  // namespace
