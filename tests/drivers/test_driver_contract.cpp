// The C interface of both driver libraries: names, discovery, opening rules,
// image memory and the codes of refused calls.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "tests/drivers/camera_session.h"

namespace driver_test {
namespace {

constexpr std::array<const char*, 43> kCameraNames = {
    "is_InitCamera",         "is_GetColorDepth",    "is_AllocImageMem",    "is_SetImageMem",
    "is_SetImageSize",       "is_SetImagePos",      "is_GetImageMemPitch", "is_SetColorMode",
    "is_SetCaptureMode",     "is_SetDisplayMode",   "is_GetImageMem",      "is_CaptureVideo",
    "is_StopLiveVideo",      "is_FreeImageMem",     "is_ExitCamera",       "is_GetVsyncCount",
    "is_GetCurrentField",    "is_SetRopEffect",     "is_SetVideoInput",    "is_SetBrightness",
    "is_SetContrast",        "is_SetSaturation",    "is_SetFrameRate",     "is_GetFrameTimeRange",
    "is_SetExposureTime",    "is_GetExposureRange", "is_SetPixelClock",    "is_GetPixelClockRange",
    "is_GetNumberOfCameras", "is_SetWhiteBalance",  "is_GetCameraList",    "is_SetExternalTrigger",
    "is_ForceTrigger",       "is_FreezeVideo",      "is_InitEvent",        "is_EnableEvent",
    "is_DisableEvent",       "is_AddToSequence",    "is_ClearSequence",    "is_GetActSeqBuf",
    "is_LockSeqBuf",         "is_UnlockSeqBuf",     "is_GetImageInfo"};

constexpr std::array<const char*, 32> kBoardNames = {
    "is_InitBoard",    "is_GetColorDepth",    "is_AllocImageMem", "is_SetImageMem",    "is_SetImageSize",
    "is_SetImagePos",  "is_GetImageMemPitch", "is_SetColorMode",  "is_SetCaptureMode", "is_SetDisplayMode",
    "is_SetVideoMode", "is_GetImageMem",      "is_CaptureVideo",  "is_StopLiveVideo",  "is_FreeImageMem",
    "is_ExitBoard",    "is_GetVsyncCount",    "is_SetRopEffect",  "is_SetVideoInput",  "is_SetBrightness",
    "is_SetContrast",  "is_SetSaturation",    "is_InitEvent",     "is_EnableEvent",    "is_DisableEvent",
    "is_SetScaler",    "is_AddToSequence",    "is_ClearSequence", "is_GetActSeqBuf",   "is_LockSeqBuf",
    "is_UnlockSeqBuf", "is_GetImageInfo"};

// The camera list record as the program lays it out.
struct CameraListRecord {
  uint32_t count;
  unsigned char entries[kCameraListCapacity][kCameraListEntrySize];

  uint32_t CameraId(int i) const {
    uint32_t id = 0;
    std::memcpy(&id, entries[i], sizeof id);
    return id;
  }
  std::string Model(int i) const {
    return std::string(reinterpret_cast<const char*>(entries[i] + kCameraListModelOffset));
  }
};

class EnvironmentGuard {
 public:
  EnvironmentGuard(const char* name, const char* value) : name_(name) { setenv(name, value, 1); }
  ~EnvironmentGuard() { unsetenv(name_); }
  EnvironmentGuard(const EnvironmentGuard&) = delete;
  EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

 private:
  const char* name_;
};

TEST(DriverExports, CameraLibraryExportsEveryName) {
  DriverLibrary library("libuEye_api.so");
  for (const char* name : kCameraNames) EXPECT_NE(library.Find(name), nullptr) << name;
  EXPECT_NE(library.Find("stereo_sim_GetCameraModel"), nullptr);
}

TEST(DriverExports, BoardLibraryExportsEveryName) {
  DriverLibrary library("libfalcon.so");
  for (const char* name : kBoardNames) EXPECT_NE(library.Find(name), nullptr) << name;
}

TEST(DriverExports, InternalsStayHidden) {
  DriverLibrary library("libuEye_api.so");
  EXPECT_EQ(library.Find("_ZN3sim11SceneTimeAtENSt6chrono10time_pointINS0_3_V212steady_clockENS0_"
                         "8durationIlSt5ratioILl1ELl1000000000EEEEEEd"),
            nullptr);
  EXPECT_EQ(library.Find("_ZN3sim14LibraryDevicesEv"), nullptr);
}

TEST(CameraDiscovery, ListsTwoCamerasOfTheRig) {
  DriverLibrary library("libuEye_api.so");
  int32_t count = -1;
  ASSERT_EQ(DRIVER(library, is_GetNumberOfCameras)(&count), IS_SUCCESS);
  ASSERT_EQ(count, 2);
  CameraListRecord record{};
  std::memset(&record, 0xff, sizeof record);  // every byte the driver leaves alone stays visible
  record.count = static_cast<uint32_t>(count);
  ASSERT_EQ(DRIVER(library, is_GetCameraList)(&record), IS_SUCCESS);
  EXPECT_EQ(record.count, 2u);
  EXPECT_EQ(record.CameraId(0), 1u);
  EXPECT_EQ(record.CameraId(1), 2u);
  EXPECT_FALSE(record.Model(0).empty());
  EXPECT_LT(record.Model(0).size(), static_cast<size_t>(kCameraListModelSize));
  EXPECT_EQ(record.Model(0), record.Model(1));
  // The third entry was not the driver's to write.
  EXPECT_EQ(record.entries[2][0], 0xff);
}

TEST(CameraDiscovery, FillsNoMoreEntriesThanTheCallerMadeRoomFor) {
  EnvironmentGuard cameras("STEREO_SIM_CAMERAS", "5");
  DriverLibrary library("libuEye_api.so");
  int32_t count = 0;
  ASSERT_EQ(DRIVER(library, is_GetNumberOfCameras)(&count), IS_SUCCESS);
  EXPECT_EQ(count, 5);
  CameraListRecord record{};
  std::memset(&record, 0xff, sizeof record);
  record.count = 3;
  ASSERT_EQ(DRIVER(library, is_GetCameraList)(&record), IS_SUCCESS);
  EXPECT_EQ(record.count, 3u);
  EXPECT_EQ(record.CameraId(2), 3u);
  EXPECT_EQ(record.entries[3][0], 0xff);
  record.count = 0;  // a zero count asks for the number of cameras
  ASSERT_EQ(DRIVER(library, is_GetCameraList)(&record), IS_SUCCESS);
  EXPECT_EQ(record.count, 5u);
}

TEST(CameraDiscovery, CameraCountAndModelComeFromTheEnvironment) {
  EnvironmentGuard cameras("STEREO_SIM_CAMERAS", "0");
  EnvironmentGuard model("STEREO_SIM_MODEL", "BenchCam");
  DriverLibrary library("libuEye_api.so");
  int32_t count = -1;
  ASSERT_EQ(DRIVER(library, is_GetNumberOfCameras)(&count), IS_SUCCESS);
  EXPECT_EQ(count, 0);
  HCAM handle = 0;
  EXPECT_EQ(DRIVER(library, is_InitCamera)(&handle, nullptr), IS_CANT_OPEN_DEVICE);
}

TEST(CameraOpening, OpensByIdOrFirstFreeAndRefusesAnOpenCamera) {
  DriverLibrary library("libuEye_api.so");
  HCAM second = 2;
  ASSERT_EQ(DRIVER(library, is_InitCamera)(&second, nullptr), IS_SUCCESS);
  EXPECT_NE(second, 0u);
  HCAM again = 2;
  EXPECT_EQ(DRIVER(library, is_InitCamera)(&again, nullptr), IS_CANT_OPEN_DEVICE);
  HCAM any = 0;
  ASSERT_EQ(DRIVER(library, is_InitCamera)(&any, nullptr), IS_SUCCESS);
  EXPECT_NE(any, second);
  HCAM none = 0;
  EXPECT_EQ(DRIVER(library, is_InitCamera)(&none, nullptr), IS_CANT_OPEN_DEVICE);
  HCAM absent = 7;
  EXPECT_EQ(DRIVER(library, is_InitCamera)(&absent, nullptr), IS_CANT_OPEN_DEVICE);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(second), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(second), IS_INVALID_HANDLE);
  HCAM reopened = 2;
  EXPECT_EQ(DRIVER(library, is_InitCamera)(&reopened, nullptr), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(reopened), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(any), IS_SUCCESS);
}

// The program keeps the camera id in its handle when the open fails, and still
// stops "its" camera when it goes.
TEST(CameraOpening, RegressionFailedOpenLeavesNoHandleToTheOpenCamera) {
  DriverLibrary library("libuEye_api.so");
  CameraSession first(library, 1, CameraSession::Format{160, 120, 8, IS_CM_MONO8});
  ASSERT_EQ(DRIVER(library, is_CaptureVideo)(first.handle(), 0), IS_SUCCESS);
  HCAM second = 1;
  ASSERT_EQ(DRIVER(library, is_InitCamera)(&second, nullptr), IS_CANT_OPEN_DEVICE);
  EXPECT_EQ(DRIVER(library, is_StopLiveVideo)(second, 0), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_DisableEvent)(second, IS_SET_EVENT_FRAME), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(second), IS_INVALID_HANDLE);
  first.events().Take();
  EXPECT_GE(first.events().WaitFor(2, std::chrono::seconds(5)), 2u);
}

TEST(CameraOpening, HandleOfAClosedCameraStaysDead) {
  DriverLibrary library("libuEye_api.so");
  HCAM old_handle = 2;
  ASSERT_EQ(DRIVER(library, is_InitCamera)(&old_handle, nullptr), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library, is_ExitCamera)(old_handle), IS_SUCCESS);
  HCAM new_handle = 2;
  ASSERT_EQ(DRIVER(library, is_InitCamera)(&new_handle, nullptr), IS_SUCCESS);
  EXPECT_NE(new_handle, old_handle);
  EXPECT_EQ(DRIVER(library, is_SetBrightness)(old_handle, 100), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(new_handle), IS_SUCCESS);
}

TEST(CameraOpening, BadHandleFailsEverywhere) {
  DriverLibrary library("libuEye_api.so");
  const HCAM bad = 0;
  char* memory = nullptr;
  int32_t id = 0;
  void* active = nullptr;
  int32_t value = 0;
  double real = 0;
  EXPECT_EQ(DRIVER(library, is_AllocImageMem)(bad, 64, 64, 8, &memory, &id), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_GetImageMem)(bad, &active), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_GetImageMemPitch)(bad, &value), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_CaptureVideo)(bad, 0), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_StopLiveVideo)(bad, 0), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_FreezeVideo)(bad, 0), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_SetExternalTrigger)(bad, IS_SET_TRIGGER_SOFTWARE), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_EnableEvent)(bad, IS_SET_EVENT_FRAME), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_SetFrameRate)(bad, 25.0, &real), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_GetExposureRange)(bad, &real, &real, &real), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_GetPixelClockRange)(bad, &value, &value), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_SetBrightness)(bad, 128), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(bad), IS_INVALID_HANDLE);
  EXPECT_EQ(DRIVER(library, is_ExitCamera)(99), IS_INVALID_HANDLE);
}

TEST(CameraOpening, UnloadingWithCamerasRunningClosesThem) {
  for (int round = 0; round < 3; ++round) {
    EventCounter events;  // outlives the library, as the program's event does
    DriverLibrary library("libuEye_api.so");
    HCAM left = 1;
    HCAM right = 2;
    ASSERT_EQ(DRIVER(library, is_InitCamera)(&left, nullptr), IS_SUCCESS);
    ASSERT_EQ(DRIVER(library, is_InitCamera)(&right, nullptr), IS_SUCCESS);
    char* memory = nullptr;
    int32_t id = 0;
    ASSERT_EQ(DRIVER(library, is_AllocImageMem)(left, 160, 120, 8, &memory, &id), IS_SUCCESS);
    ASSERT_EQ(DRIVER(library, is_SetImageMem)(left, memory, id), IS_SUCCESS);
    ASSERT_EQ(DRIVER(library, is_SetImageSize)(left, 160, 120), IS_SUCCESS);
    ASSERT_EQ(DRIVER(library, is_SetColorMode)(left, IS_CM_MONO8), IS_SUCCESS);
    ASSERT_EQ(DRIVER(library, is_InitEvent)(left, events.fd(), IS_SET_EVENT_FRAME), IS_SUCCESS);
    ASSERT_EQ(DRIVER(library, is_EnableEvent)(left, IS_SET_EVENT_FRAME), IS_SUCCESS);
    ASSERT_EQ(DRIVER(library, is_CaptureVideo)(left, 0), IS_SUCCESS);
    EXPECT_GE(events.WaitFor(1, std::chrono::seconds(5)), 1u);
    // Both cameras stay open: unloading the library must close them.
  }
}

class CameraMemory : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(DRIVER(library_, is_InitCamera)(&handle_, nullptr), IS_SUCCESS); }
  void TearDown() override { DRIVER(library_, is_ExitCamera)(handle_); }

  DriverLibrary library_{"libuEye_api.so"};
  HCAM handle_ = 1;
};

TEST_F(CameraMemory, RowsArePaddedToFourBytesAndZeroFilled) {
  struct Case {
    int32_t width, bits, pitch;
  } cases[] = {{641, 8, 644}, {641, 24, 1924}, {641, 32, 2564}, {640, 24, 1920}, {13, 24, 40}};
  for (const Case& c : cases) {
    char* memory = nullptr;
    int32_t id = 0;
    ASSERT_EQ(DRIVER(library_, is_AllocImageMem)(handle_, c.width, 9, c.bits, &memory, &id), IS_SUCCESS);
    ASSERT_NE(memory, nullptr);
    ASSERT_EQ(DRIVER(library_, is_SetImageMem)(handle_, memory, id), IS_SUCCESS);
    int32_t pitch = 0;
    ASSERT_EQ(DRIVER(library_, is_GetImageMemPitch)(handle_, &pitch), IS_SUCCESS);
    EXPECT_EQ(pitch, c.pitch) << c.width << " x " << c.bits;
    void* active = nullptr;
    ASSERT_EQ(DRIVER(library_, is_GetImageMem)(handle_, &active), IS_SUCCESS);
    EXPECT_EQ(active, memory);
    const std::vector<char> zeros(static_cast<size_t>(pitch) * 9, 0);
    EXPECT_EQ(std::memcmp(memory, zeros.data(), zeros.size()), 0);
    EXPECT_EQ(DRIVER(library_, is_FreeImageMem)(handle_, memory, id), IS_SUCCESS);
  }
}

TEST_F(CameraMemory, RefusesBadAllocationsAndForeignMemory) {
  char* memory = nullptr;
  int32_t id = 0;
  EXPECT_EQ(DRIVER(library_, is_AllocImageMem)(handle_, 640, 480, 16, &memory, &id), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_AllocImageMem)(handle_, 0, 480, 8, &memory, &id), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_AllocImageMem)(handle_, 640, -1, 8, &memory, &id), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_AllocImageMem)(handle_, 640, 480, 8, nullptr, &id), IS_INVALID_PARAMETER);
  ASSERT_EQ(DRIVER(library_, is_AllocImageMem)(handle_, 64, 48, 8, &memory, &id), IS_SUCCESS);
  char foreign[64] = {};
  EXPECT_EQ(DRIVER(library_, is_SetImageMem)(handle_, foreign, id), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetImageMem)(handle_, memory, id + 1), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_FreeImageMem)(handle_, foreign, id), IS_INVALID_PARAMETER);
  void* active = reinterpret_cast<void*>(1);
  EXPECT_EQ(DRIVER(library_, is_GetImageMem)(handle_, &active), IS_NO_SUCCESS);
  EXPECT_EQ(active, nullptr);
  EXPECT_EQ(DRIVER(library_, is_CaptureVideo)(handle_, 0), IS_NO_SUCCESS);  // nowhere to put frames
  EXPECT_EQ(DRIVER(library_, is_FreeImageMem)(handle_, memory, id), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_FreeImageMem)(handle_, memory, id), IS_INVALID_PARAMETER);
}

TEST_F(CameraMemory, SizeAndColourModeMustFitTheActiveMemory) {
  char* memory = nullptr;
  int32_t id = 0;
  ASSERT_EQ(DRIVER(library_, is_AllocImageMem)(handle_, 320, 240, 8, &memory, &id), IS_SUCCESS);
  ASSERT_EQ(DRIVER(library_, is_SetImageMem)(handle_, memory, id), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_SetImageSize)(handle_, 640, 480), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetImageSize)(handle_, 320, 240), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_SetImageSize)(handle_, 160, 120), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_SetColorMode)(handle_, IS_CM_BGR24), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetColorMode)(handle_, IS_CM_MONO8), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_SetColorMode)(handle_, 3), IS_INVALID_PARAMETER);
  int32_t bits = 0;
  int32_t mode = -1;
  ASSERT_EQ(DRIVER(library_, is_GetColorDepth)(handle_, &bits, &mode), IS_SUCCESS);
  EXPECT_EQ(bits, 8);
  EXPECT_EQ(mode, IS_CM_MONO8);
  EXPECT_EQ(DRIVER(library_, is_SetDisplayMode)(handle_, IS_SET_DM_DIB), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_SetDisplayMode)(handle_, 2), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetImageSize)(handle_, 2000, 100), IS_INVALID_PARAMETER);
}

TEST_F(CameraMemory, RefusesBadEventsAndPictureSettings) {
  EventCounter events;
  EXPECT_EQ(DRIVER(library_, is_EnableEvent)(handle_, IS_SET_EVENT_FRAME),
            IS_NO_SUCCESS);  // nothing registered
  EXPECT_EQ(DRIVER(library_, is_InitEvent)(handle_, events.fd(), IS_SET_EVENT_BOARD_FRAME),
            IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_InitEvent)(handle_, -1, IS_SET_EVENT_FRAME), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_InitEvent)(handle_, events.fd(), IS_SET_EVENT_FRAME), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_EnableEvent)(handle_, IS_SET_EVENT_FRAME), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_SetBrightness)(handle_, 256), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetContrast)(handle_, 512), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetContrast)(handle_, 511), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library_, is_SetPixelClock)(handle_, 4), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetPixelClock)(handle_, 41), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_SetExternalTrigger)(handle_, 3), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library_, is_ForceTrigger)(handle_), IS_NO_SUCCESS);  // not in trigger mode
  EXPECT_EQ(DRIVER(library_, is_GetImageMemPitch)(handle_, nullptr), IS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace driver_test
