// One contract for every device kind, run against the stand-in drivers: open,
// initialise, capture, stop, trigger and destroy as the main window does.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "Video/vidclass/arvimp.h"
#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass_dshow.h"
#include "Video/vidclass/vidclass_falcon.h"
#include "Video/vidclass/vidclass_sidebyside.h"
#include "Video/vidclass/vidclass_genicam.h"
#include "Video/vidclass/vidclass_ueye.h"
#include "Video/vidclass/vidclass_values.h"
#include "demos/genicam_rig_views.h"
#include "video_test_support.h"

namespace {

using namespace std::chrono_literals;
using ::testing::MatchesRegex;

constexpr auto kPatience = 10s;
// Time for a frame that was already under way to be announced.
constexpr auto kSettle = 400ms;

struct UEyeKind {
  using Device = tVideoDeviceuEye;
  static constexpr const char* kPrefix = "uEye";
  static constexpr bool kHasSoftwareTrigger = true;
  static constexpr bool kHasDriverHandle = true;
  static bool Load() { return uEyeimp::Load(); }
  static void Release() { uEyeimp::Release(); }
  static std::unique_ptr<Device> Open(platform::WindowHandle window) {
    auto camera = std::make_unique<Device>(1, window);
    camera->Width = 640;
    camera->Height = 480;
    camera->Channels = 3;
    return camera;
  }
};

struct FalconKind {
  using Device = tVideoDeviceFalcon;
  static constexpr const char* kPrefix = "Falcon";
  static constexpr bool kHasSoftwareTrigger = false;
  static constexpr bool kHasDriverHandle = true;
  static bool Load() { return falcimp::Load(); }
  static void Release() { falcimp::Release(); }
  static std::unique_ptr<Device> Open(platform::WindowHandle window) {
    return std::make_unique<Device>(kFalconDeviceId - 2000, window);
  }
};

// A GStreamer test source listed as a system capture device.
struct CaptureKind {
  using Device = tVideoDeviceDShow;
  static constexpr const char* kPrefix = "DShow";
  static constexpr bool kHasSoftwareTrigger = false;
  static constexpr bool kHasDriverHandle = false;
  static bool Load() {
    setenv("STEREO_CAPTURE_SOURCES", "videotestsrc pattern=ball", 1);
    return true;
  }
  static void Release() {}
  static std::unique_ptr<Device> Open(platform::WindowHandle window) {
    return std::make_unique<Device>(CaptureDeviceIndex("videotestsrc pattern=ball"), window);
  }
};

// A capture source that states its size and colour: the device opens at it.
struct OwnSizeCaptureKind : CaptureKind {
  static constexpr const char* kSource =
      "videotestsrc pattern=ball ! capsfilter "
      "caps=video/x-raw,format=YUY2,width=640,height=360,framerate=30/1";
  static bool Load() {
    setenv("STEREO_CAPTURE_SOURCES", kSource, 1);
    return true;
  }
  static std::unique_ptr<Device> Open(platform::WindowHandle window) {
    auto device = std::make_unique<Device>(CaptureDeviceIndex(kSource), window);
    EXPECT_EQ(device->Width * device->Height * device->Channels, 640 * 360 * 3);
    return device;
  }
};

// The right eye of a stereo camera whose frame holds both eyes side by side,
// opened alone.
struct StereoEyeKind {
  using Device = tVideoDeviceSideBySide;
  static constexpr const char* kPrefix = "DShow";
  static constexpr bool kHasSoftwareTrigger = false;
  static constexpr bool kHasDriverHandle = false;
  static constexpr const char* kSource =
      "videotestsrc pattern=ball ! capsfilter caps=video/x-raw,format=BGR,width=1280,height=480";
  static bool Load() {
    setenv("STEREO_CAPTURE_SOURCES", (std::string("side-by-side: ") + kSource).c_str(), 1);
    return true;
  }
  static void Release() {}
  static std::unique_ptr<Device> Open(platform::WindowHandle window) {
    auto eye =
        std::make_unique<Device>(CaptureDeviceIndex(kSource), platform::StereoLayout::kSideBySide, 1, window);
    EXPECT_EQ(eye->Width, 640);
    return eye;
  }
};

// The first of two fake GenICam cameras of Aravis, in process, showing the
// rig's left view.
struct GenICamKind {
  using Device = tVideoDeviceGenICam;
  static constexpr const char* kPrefix = "GenICam";
  static constexpr bool kHasSoftwareTrigger = true;
  static constexpr bool kHasDriverHandle = false;
  static bool Load() {
    setenv(arvimp::kFakeCamerasVariable, "2", 1);
    genicam_rig::ShowRigOnFakeCameras();
    return true;
  }
  static void Release() {
    genicam_rig::StopShowingRig();
    setenv(arvimp::kFakeCamerasVariable, "0", 1);
  }
  static std::unique_ptr<Device> Open(platform::WindowHandle window) {
    return std::make_unique<Device>(0, window);
  }
};

template <class Kind>
class DeviceContract : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Kind::Load()) << "stand-in driver of " << Kind::kPrefix << " not found";
    AnnouncementLog::Instance().Clear();
  }
  void TearDown() override { Kind::Release(); }

  std::unique_ptr<typename Kind::Device> OpenAndInit() {
    auto device = Kind::Open(&window_);
    device->Init(kFirstSourceMessage);
    device->FrameCallback = RecordingFrameCallback;
    return device;
  }
  std::size_t Messages() { return AnnouncementLog::Instance().Count(MessageEntry(kFirstSourceMessage)); }
  bool WaitForMessages(std::size_t count) {
    return AnnouncementLog::Instance().WaitFor(MessageEntry(kFirstSourceMessage), count, kPatience);
  }
  // True when no frame is announced for a while once the in-flight ones are in.
  bool StaysQuiet() {
    std::this_thread::sleep_for(kSettle);
    const std::size_t before = Messages();
    std::this_thread::sleep_for(3 * kSettle);
    return Messages() == before;
  }

  RecordingWindow window_;
};

// What only the kinds with a driver library do: log lines per driver call, and
// a device that cannot be opened twice.
template <class Kind>
class DriverDeviceContract : public DeviceContract<Kind> {};

using Kinds = ::testing::Types<UEyeKind, FalconKind, CaptureKind, OwnSizeCaptureKind, StereoEyeKind, GenICamKind>;
TYPED_TEST_SUITE(DeviceContract, Kinds);
using DriverKinds = ::testing::Types<UEyeKind, FalconKind>;
TYPED_TEST_SUITE(DriverDeviceContract, DriverKinds);

TYPED_TEST(DeviceContract, OpensWithItsDefaults) {
  auto device = TypeParam::Open(&this->window_);
  EXPECT_EQ(device->State, 0);
  EXPECT_EQ(device->LastResult, 0);
  EXPECT_EQ(device->Handle != 0u, TypeParam::kHasDriverHandle);
  EXPECT_GT(device->Width, 0);
  EXPECT_FALSE(device->Inputs.empty());
}

TYPED_TEST(DeviceContract, InitMakesAnImageOfTheFrameSize) {
  auto device = this->OpenAndInit();
  EXPECT_EQ(device->State, 1);
  ASSERT_NE(device->Image, nullptr);
  EXPECT_NE(device->Image->imageData, nullptr);
  EXPECT_EQ(device->Image->width, device->Width);
  EXPECT_EQ(device->Image->height, device->Height);
  EXPECT_EQ(device->Image->nChannels, device->Channels);
  EXPECT_GE(device->Image->widthStep, device->Width * device->Channels);
}

TYPED_TEST(DriverDeviceContract, InitLogsEveryDriverCallAndReachesStateOne) {
  auto device = this->OpenAndInit();
  const std::string prefix = TypeParam::kPrefix;
  ASSERT_EQ(device->Log.size(), 6u);
  EXPECT_EQ(device->Log[0], prefix + " Alloc 0 " + HexAddress(device->ImageMemory) + " 0");
  EXPECT_THAT(device->Log[1], MatchesRegex(".* SetMem 0"));
  EXPECT_THAT(device->Log[2], MatchesRegex(".* SetSize 0"));
  EXPECT_THAT(device->Log[5], MatchesRegex(".* GetMem 0 [0-9A-F]{8}"));
  EXPECT_EQ(device->State, 1);
}

TYPED_TEST(DeviceContract, FramesAreAnnouncedByCallbackThenMessage) {
  auto device = this->OpenAndInit();
  device->Start();
  ASSERT_TRUE(this->WaitForMessages(3));
  device->Stop();
  device.reset();

  const std::vector<std::string> announced = AnnouncementLog::Instance().Entries();
  ASSERT_EQ(announced.size() % 2, 0u) << ::testing::PrintToString(announced);
  for (std::size_t i = 0; i < announced.size(); i += 2) {
    EXPECT_EQ(announced[i], "callback") << i;
    EXPECT_EQ(announced[i + 1], MessageEntry(kFirstSourceMessage)) << i;
  }
}

TYPED_TEST(DeviceContract, FramesLandInTheImageMemory) {
  auto device = this->OpenAndInit();
  const IplImage* image = device->Image;
  const std::vector<unsigned char> initial(image->imageData, image->imageData + image->imageSize);
  device->Start();
  ASSERT_TRUE(this->WaitForMessages(2));
  device->Stop();
  EXPECT_TRUE(this->StaysQuiet());  // no frame is being written any more
  // A kind that keeps its frames apart hands out the newest one; the fake
  // drivers complete none, so their bound memory is read.
  if (const IplImage* held = device->HoldNewestFrame()) image = held;
  const std::vector<unsigned char> captured(image->imageData, image->imageData + image->imageSize);
  EXPECT_NE(captured, initial);
}

TYPED_TEST(DeviceContract, StartStopStart) {
  auto device = this->OpenAndInit();
  device->Start();
  ASSERT_TRUE(this->WaitForMessages(2));
  device->Stop();
  EXPECT_TRUE(this->StaysQuiet());

  const std::size_t afterStop = this->Messages();
  device->Start();
  EXPECT_TRUE(this->WaitForMessages(afterStop + 2));
}

TYPED_TEST(DeviceContract, StopBeforeStartAnnouncesNothingAndStartStillWorks) {
  auto device = this->OpenAndInit();
  device->Stop();
  EXPECT_TRUE(this->StaysQuiet());
  EXPECT_EQ(this->Messages(), 0u);
  device->Start();
  EXPECT_TRUE(this->WaitForMessages(1));
}

TYPED_TEST(DeviceContract, DestroyWhileRunningEndsTheAnnouncements) {
  auto device = this->OpenAndInit();
  device->Start();
  ASSERT_TRUE(this->WaitForMessages(1));
  device.reset();
  const std::size_t atDestruction = this->Messages();
  std::this_thread::sleep_for(3 * kSettle);
  EXPECT_EQ(this->Messages(), atDestruction);
}

TYPED_TEST(DeviceContract, DestroyedDeviceCanBeOpenedAgain) {
  auto device = this->OpenAndInit();
  device->Start();
  ASSERT_TRUE(this->WaitForMessages(1));
  device.reset();
  auto again = TypeParam::Open(&this->window_);
  EXPECT_EQ(again->State, 0);
}

TYPED_TEST(DriverDeviceContract, SecondOpenFailsWithoutDisturbingTheFirst) {
  auto device = this->OpenAndInit();
  device->Start();
  ASSERT_TRUE(this->WaitForMessages(1));
  {
    auto second = TypeParam::Open(&this->window_);
    EXPECT_EQ(second->State, -1);
    EXPECT_NE(second->LastResult, 0);
    // Whatever the failed device is told must not reach the open one.
    second->Stop();
  }
  const std::size_t now = this->Messages();
  EXPECT_TRUE(this->WaitForMessages(now + 2));
}

TYPED_TEST(DeviceContract, DestroyBeforeInitEndsTheThread) {
  auto device = TypeParam::Open(&this->window_);
  std::this_thread::sleep_for(50ms);
  device.reset();
  auto again = TypeParam::Open(&this->window_);
  EXPECT_EQ(again->State, 0);
}

TYPED_TEST(DeviceContract, TriggerModeGivesOneFramePerTrigger) {
  auto device = this->OpenAndInit();
  device->Start();
  ASSERT_TRUE(this->WaitForMessages(1));
  device->SetTriggerMode(true);
  if constexpr (!TypeParam::kHasSoftwareTrigger) {
    // The board has no trigger: its live frames go on.
    const std::size_t now = this->Messages();
    EXPECT_TRUE(this->WaitForMessages(now + 2));
    return;
  }
  ASSERT_TRUE(this->StaysQuiet());
  const std::size_t before = this->Messages();
  for (std::size_t i = 1; i <= 3; ++i) {
    device->Trigger();
    EXPECT_EQ(device->LastResult, 0);
    ASSERT_TRUE(this->WaitForMessages(before + i));
  }
  EXPECT_TRUE(this->StaysQuiet());
  EXPECT_EQ(this->Messages(), before + 3);

  device->SetTriggerMode(false);
  device->Start();
  EXPECT_TRUE(this->WaitForMessages(before + 5));
}

TYPED_TEST(DeviceContract, BrightnessAndContrastAreKeptAsSet) {
  auto device = this->OpenAndInit();
  device->SetBrightness(0.5);
  device->SetContrast(0.25);
  EXPECT_EQ(device->Brightness, 0.5);
  EXPECT_EQ(device->Contrast, 0.25);
}

// The camera's frame-rate range is the inverse of the driver's frame-time
// range, asked of the driver directly.
TEST(UEyeContract, FrameRateRangeIsTheInverseOfTheFrameTimeRange) {
  ASSERT_TRUE(uEyeimp::Load()) << "stand-in camera driver not found";
  RecordingWindow window;
  {
    auto camera = UEyeKind::Open(&window);
    camera->Init(kFirstSourceMessage);
    for (int32_t clock : {10, 30}) {
      camera->SetPixelClock(clock);
      double shortest = 0, longest = 0, step = 0;
      ASSERT_EQ(uEyeimp::Api().is_GetFrameTimeRange(camera->Handle, &shortest, &longest, &step), 0);
      ValueRange rates;
      camera->GetFrameRateRange(rates);
      EXPECT_DOUBLE_EQ(rates.Minimum, 1.0 / longest) << clock;
      EXPECT_DOUBLE_EQ(rates.Maximum, 1.0 / shortest) << clock;
      EXPECT_DOUBLE_EQ(rates.Increment, step) << clock;

      // The rate in effect, as the driver reports it back, lies in that range.
      camera->SetFrameRate(rates.Maximum * 4);
      EXPECT_LE(camera->FrameRate, rates.Maximum * (1 + 1e-9)) << clock;
      EXPECT_GT(camera->FrameRate, 0.0) << clock;
    }
  }
  uEyeimp::Release();
}

}  // namespace
