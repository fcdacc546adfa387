// The GenICam kind on Aravis's in-process fake cameras: what it lists, how it
// reads each pixel format, that a held frame stays whole, the values it
// refuses, and the trigger line.

#include <arv.h>
#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <chrono>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <thread>
#include <vector>

#include "Video/vidclass/arvimp.h"
#include "Video/vidclass/vidclass_genicam.h"
#include "video_test_support.h"

namespace {

using namespace std::chrono_literals;

// A run of this binary by hand never looks for cameras on the network.
[[maybe_unused]] const int kNoDiscovery = setenv(arvimp::kFakeCamerasVariable, "0", 0);

// The colour every test frame shows, blue first.
const cv::Vec3b kColour(40, 120, 200);

// Writes kColour as the camera's pixel format says, independently of the
// program's conversion: grey as its luma, Bayer by the pattern's name.
void FillSolid(ArvBuffer* buffer, void*, guint32, guint32, ArvPixelFormat format) {
  const int width = static_cast<int>(arv_buffer_get_image_width(buffer));
  const int height = static_cast<int>(arv_buffer_get_image_height(buffer));
  auto* pixels = static_cast<uint8_t*>(const_cast<void*>(arv_buffer_get_data(buffer, nullptr)));
  auto value = [](char colour) {
    return colour == 'B' ? kColour[0] : colour == 'G' ? kColour[1] : kColour[2];
  };
  const char* rows[2] = {nullptr, nullptr};
  switch (format) {
    case ARV_PIXEL_FORMAT_BAYER_RG_8:
      rows[0] = "RG", rows[1] = "GB";
      break;
    case ARV_PIXEL_FORMAT_BAYER_GB_8:
      rows[0] = "GB", rows[1] = "RG";
      break;
    case ARV_PIXEL_FORMAT_BAYER_GR_8:
      rows[0] = "GR", rows[1] = "BG";
      break;
    case ARV_PIXEL_FORMAT_BAYER_BG_8:
      rows[0] = "BG", rows[1] = "GR";
      break;
    default:
      break;
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* pixel = pixels + (static_cast<ptrdiff_t>(y) * width + x) *
                                    (format == ARV_PIXEL_FORMAT_RGB_8_PACKED ? 3 : 1);
      if (format == ARV_PIXEL_FORMAT_RGB_8_PACKED) {
        pixel[0] = kColour[2], pixel[1] = kColour[1], pixel[2] = kColour[0];
      } else if (rows[0] != nullptr) {
        *pixel = value(rows[y % 2][x % 2]);
      } else {
        *pixel = 77;
      }
    }
  }
}

class GenICamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(arvimp::kFakeCamerasVariable, "2", 1);
    AnnouncementLog::Instance().Clear();
  }
  void TearDown() override {
    arvimp::SetFakeCameraSetUp({});
    setenv(arvimp::kFakeCamerasVariable, "0", 1);
  }
  // The fakes made from now on deliver that format at 64 x 48, filled solid.
  void DeliverSolid(ArvPixelFormat format) {
    arvimp::SetFakeCameraSetUp([this, format](int, ArvFakeCamera* fake) {
      fake_ = fake;
      arv_fake_camera_write_register(fake, ARV_FAKE_CAMERA_REGISTER_WIDTH, 64);
      arv_fake_camera_write_register(fake, ARV_FAKE_CAMERA_REGISTER_HEIGHT, 48);
      arv_fake_camera_write_register(fake, ARV_FAKE_CAMERA_REGISTER_PIXEL_FORMAT, format);
      arv_fake_camera_set_fill_pattern(fake, &FillSolid, nullptr);
    });
  }
  std::unique_ptr<tVideoDeviceGenICam> Running(int index = 0) {
    auto camera = std::make_unique<tVideoDeviceGenICam>(index, &window_);
    camera->Init(kFirstSourceMessage);
    camera->Start();
    return camera;
  }
  bool WaitForFrames(std::size_t count) {
    return AnnouncementLog::Instance().WaitFor(MessageEntry(kFirstSourceMessage), count, 10s);
  }

  RecordingWindow window_;
  ArvFakeCamera* fake_ = nullptr;
};

TEST_F(GenICamTest, FakesAreListedAfterTheOtherKindsByVendorModelAndSerial) {
  platform::CaptureDeviceSource* none = nullptr;
  tVideoDevEnum devices(none);
  const int32_t count = devices.Enumerate();
  ASSERT_GE(devices.Devices.size(), 2u);
  const auto last = devices.Devices.end();
  EXPECT_EQ((last - 2)->Text, "Aravis Fake - #GC-1");
  EXPECT_EQ((last - 2)->Id, kGenICamDeviceIdBase);
  EXPECT_EQ((last - 1)->Text, "Aravis Fake - #GC-2");
  EXPECT_EQ((last - 1)->Id, kGenICamDeviceIdBase + 1);
  setenv(arvimp::kFakeCamerasVariable, "0", 1);
  EXPECT_EQ(devices.Enumerate(), count - 2);
}

struct FormatCase {
  const char* Name;
  ArvPixelFormat Format;
  int32_t Channels;
};

class GenICamFormatTest : public GenICamTest, public ::testing::WithParamInterface<FormatCase> {};

// Mono stays grey; Bayer and RGB become the colour written, blue first.
TEST_P(GenICamFormatTest, FramesComeInTheCamerasFormatAndColour) {
  DeliverSolid(GetParam().Format);
  const auto started = std::chrono::steady_clock::now();
  auto camera = Running();
  ASSERT_EQ(camera->State, 1) << ::testing::PrintToString(camera->Log);
  EXPECT_EQ(camera->Width, 64);
  EXPECT_EQ(camera->Height, 48);
  EXPECT_EQ(camera->Channels, GetParam().Channels);
  ASSERT_TRUE(WaitForFrames(2));
  FrameStamp stamp;
  const IplImage* frame = camera->HoldNewestFrame(&stamp);
  ASSERT_NE(frame, nullptr);
  EXPECT_GT(stamp.Number, 0u);
  // The host's time of arrival on the steady clock.
  const double started_ms = std::chrono::duration<double, std::milli>(started.time_since_epoch()).count();
  EXPECT_GT(stamp.Time_ms, started_ms);
  const cv::Mat image = cv::cvarrToMat(frame);
  // Away from the border, where demosaicing has whole neighbourhoods.
  const cv::Mat inner = image(cv::Rect(4, 4, 56, 40));
  if (GetParam().Channels == 1) {
    EXPECT_EQ(cv::norm(inner, cv::Mat(inner.size(), CV_8UC1, cv::Scalar(77)), cv::NORM_INF), 0.0);
  } else {
    EXPECT_EQ(cv::norm(inner, cv::Mat(inner.size(), CV_8UC3, cv::Scalar(kColour)), cv::NORM_INF), 0.0)
        << GetParam().Name << " " << inner(cv::Rect(0, 0, 2, 2));
  }
}

INSTANTIATE_TEST_SUITE_P(PixelFormats, GenICamFormatTest,
                         ::testing::Values(FormatCase{"Mono8", ARV_PIXEL_FORMAT_MONO_8, 1},
                                           FormatCase{"BayerRG8", ARV_PIXEL_FORMAT_BAYER_RG_8, 3},
                                           FormatCase{"BayerGB8", ARV_PIXEL_FORMAT_BAYER_GB_8, 3},
                                           FormatCase{"BayerGR8", ARV_PIXEL_FORMAT_BAYER_GR_8, 3},
                                           FormatCase{"BayerBG8", ARV_PIXEL_FORMAT_BAYER_BG_8, 3},
                                           FormatCase{"RGB8", ARV_PIXEL_FORMAT_RGB_8_PACKED, 3}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GenICamTest, AFormatItCannotShowIsRefusedInTheLog) {
  DeliverSolid(ARV_PIXEL_FORMAT_MONO_16);
  tVideoDeviceGenICam camera(0, &window_);
  camera.Init(kFirstSourceMessage);
  EXPECT_EQ(camera.State, 0);
  EXPECT_NE(camera.LastResult, 0);
  ASSERT_FALSE(camera.Log.empty());
  EXPECT_EQ(camera.Log.back(), "GenICam PixelFormat -1 Mono16 not supported");
}

// The library's own pattern moves with every frame: a held frame that a
// later one overwrote would show it.
TEST_F(GenICamTest, AHeldFrameStaysAsItWasWhileTheCameraGoesOn) {
  auto camera = Running();
  ASSERT_TRUE(WaitForFrames(1));
  FrameStamp held_stamp;
  const IplImage* held = camera->HoldNewestFrame(&held_stamp);
  ASSERT_NE(held, nullptr);
  const std::vector<char> pixels(held->imageData, held->imageData + held->imageSize);
  const std::size_t before = AnnouncementLog::Instance().Count(MessageEntry(kFirstSourceMessage));
  ASSERT_TRUE(WaitForFrames(before + 2 * 5));
  EXPECT_EQ(camera->HeldFrame(), held);
  EXPECT_EQ(std::vector<char>(held->imageData, held->imageData + held->imageSize), pixels);
  EXPECT_GT(camera->CompleteFrames().front().Stamp.Number, held_stamp.Number);
}

TEST_F(GenICamTest, ValuesBeyondTheCamerasBoundsAreClampedToThem) {
  DeliverSolid(ARV_PIXEL_FORMAT_MONO_8);
  tVideoDeviceGenICam camera(0, &window_);
  camera.Init(kFirstSourceMessage);
  ValueRange rates, exposures;
  camera.GetFrameRateRange(rates);
  camera.GetExposureRange(exposures);
  ASSERT_LT(rates.Minimum, rates.Maximum);
  ASSERT_LT(exposures.Minimum, exposures.Maximum);
  for (const auto& [asked, expected] :
       {std::pair{rates.Maximum * 10, rates.Maximum}, {-5.0, rates.Minimum}}) {
    camera.SetFrameRate(asked);
    EXPECT_EQ(camera.LastResult, 0) << asked;
    EXPECT_NEAR(camera.FrameRate, expected, expected * 1e-3) << asked;
  }
  for (const auto& [asked, expected] :
       {std::pair{exposures.Maximum * 10, exposures.Maximum}, {-1.0, exposures.Minimum}}) {
    camera.SetExposure(asked);
    EXPECT_EQ(camera.LastResult, 0) << asked;
    EXPECT_NEAR(camera.Exposure, expected, expected * 1e-3) << asked;
  }
  // The fake's gain is GainRaw, 0 to 10.
  for (const auto& [share, raw] : {std::pair{3.0, 10u}, {-1.0, 0u}, {0.5, 5u}}) {
    camera.SetGain(share);
    EXPECT_EQ(camera.LastResult, 0) << share;
    guint32 value = 99;
    arv_fake_camera_read_register(fake_, ARV_FAKE_CAMERA_REGISTER_GAIN_RAW, &value);
    EXPECT_EQ(value, raw) << share;
  }
  // No black level and no gamma on the fake: the values are only kept.
  EXPECT_NE(std::find(camera.Log.begin(), camera.Log.end(), "GenICam BlackLevel none"), camera.Log.end());
  EXPECT_NE(std::find(camera.Log.begin(), camera.Log.end(), "GenICam Gamma none"), camera.Log.end());
  camera.SetBrightness(7.0);
  EXPECT_EQ(camera.Brightness, 7.0);
  EXPECT_EQ(camera.LastResult, 0);
}

TEST_F(GenICamTest, ACameraThatIsNotThereFailsInTheLogAndItsCallsFail) {
  tVideoDeviceGenICam camera(5, &window_);
  EXPECT_EQ(camera.State, -1);
  EXPECT_NE(camera.LastResult, 0);
  ASSERT_EQ(camera.Log.size(), 1u);
  EXPECT_EQ(camera.Log[0].rfind("GenICam Open ", 0), 0u) << camera.Log[0];
  camera.Init(kFirstSourceMessage);
  EXPECT_EQ(camera.Image, nullptr);
  for (auto call : {&tVideoDevice::Start, &tVideoDevice::Trigger, &tVideoDevice::Stop}) {
    camera.LastResult = 0;
    (camera.*call)();
    EXPECT_NE(camera.LastResult, 0);
  }
}

// Two cameras wired to one pulse: the fake's line fires at its trigger
// frequency, and the timer's Trigger has nothing to do.
TEST_F(GenICamTest, ALineTriggersTheCameraInsteadOfTheTimer) {
  DeliverSolid(ARV_PIXEL_FORMAT_MONO_8);
  auto camera = Running();
  camera->TriggerSource = "Line0";
  camera->SetTriggerMode(true);
  EXPECT_EQ(camera->LastResult, 0);
  EXPECT_FALSE(arv_fake_camera_is_in_free_running_mode(fake_));
  EXPECT_FALSE(arv_fake_camera_is_in_software_trigger_mode(fake_));
  camera->Trigger();
  EXPECT_EQ(camera->LastResult, 0);
  const std::size_t now = AnnouncementLog::Instance().Count(MessageEntry(kFirstSourceMessage));
  EXPECT_TRUE(WaitForFrames(now + 3));
  camera->SetTriggerMode(false);
  EXPECT_TRUE(arv_fake_camera_is_in_free_running_mode(fake_));
}

}  // namespace
