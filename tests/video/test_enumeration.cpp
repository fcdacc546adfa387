// Enumeration of the frame sources over fake capture devices and fake driver
// discovery: order, ids, the gaps of unopenable devices, the camera record.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass.h"
#include "video_test_support.h"

namespace {

class FakeCaptureDevices : public platform::CaptureDeviceSource {
 public:
  std::vector<platform::CaptureDevice> Devices() override { return devices; }
  std::vector<platform::CaptureDevice> devices;
};

struct FakeCamera {
  uint32_t id;
  std::string model;
};

// What the fake uEye discovery answers.
struct FakeCameras {
  int32_t countResult = 0;
  int32_t listResult = 0;
  std::vector<FakeCamera> cameras;
  uint32_t presetCount = 0;  // what the caller put into the record
};
FakeCameras fake;

int32_t FakeGetNumberOfCameras(int32_t* count) {
  *count = static_cast<int32_t>(fake.cameras.size());
  return fake.countResult;
}

int32_t FakeGetCameraList(void* record) {
  auto* list = static_cast<uEyeimp::CameraList*>(record);
  fake.presetCount = list->Count;
  if (fake.listResult != 0) return fake.listResult;
  for (uint32_t i = 0; i < list->Count && i < fake.cameras.size(); ++i) {
    list->Info[i].CameraId = fake.cameras[i].id;
    std::memcpy(list->Info[i].Model, fake.cameras[i].model.data(),
                std::min(fake.cameras[i].model.size(), sizeof list->Info[i].Model));
  }
  return 0;
}

DriverDiscovery Drivers(bool uEye, bool falcon) {
  DriverDiscovery drivers;
  if (uEye) {
    drivers.GetNumberOfCameras = FakeGetNumberOfCameras;
    drivers.GetCameraList = FakeGetCameraList;
  }
  drivers.FalconLoaded = falcon;
  return drivers;
}

platform::CaptureDevice Openable(const std::string& name) { return {name, "videotestsrc", true}; }
platform::CaptureDevice Unopenable(const std::string& name) { return {name, "", false}; }

class Enumeration : public ::testing::Test {
 protected:
  void SetUp() override { fake = FakeCameras{}; }
  std::vector<std::pair<std::string, int32_t>> Listed(const tVideoDevEnum& devEnum) {
    std::vector<std::pair<std::string, int32_t>> listed;
    for (const DeviceEntry& entry : devEnum.Devices) listed.emplace_back(entry.Text, entry.Id);
    return listed;
  }
  FakeCaptureDevices capture_;
};

using Listing = std::vector<std::pair<std::string, int32_t>>;

TEST_F(Enumeration, NothingAttachedListsNothing) {
  tVideoDevEnum devEnum(&capture_, Drivers(false, false));
  EXPECT_EQ(devEnum.Enumerate(), 0);
  EXPECT_TRUE(devEnum.Devices.empty());
}

TEST_F(Enumeration, FalconBoardIsListedButNotCounted) {
  tVideoDevEnum devEnum(&capture_, Drivers(false, true));
  EXPECT_EQ(devEnum.Enumerate(), 0);
  EXPECT_EQ(Listed(devEnum), (Listing{{"Falcon", 2000}}));
}

TEST_F(Enumeration, CaptureDevicesThenCamerasThenBoard) {
  capture_.devices = {Openable("Webcam"), Unopenable("Broken"), Openable("Test source")};
  fake.cameras = {{1, "ABC"}, {2, "ABC"}};
  tVideoDevEnum devEnum(&capture_, Drivers(true, true));

  EXPECT_EQ(devEnum.Enumerate(), 4);
  EXPECT_EQ(Listed(devEnum), (Listing{{"Webcam", 1000},
                                      {"Test source", 1002},
                                      {"ABC - #1", 3001},
                                      {"ABC - #2", 3002},
                                      {"Falcon", 2000}}));
}

TEST_F(Enumeration, EnumerateRebuildsTheList) {
  capture_.devices = {Openable("Webcam")};
  tVideoDevEnum devEnum(&capture_, Drivers(false, true));
  devEnum.Enumerate();
  capture_.devices.clear();
  EXPECT_EQ(devEnum.Enumerate(), 0);
  EXPECT_EQ(Listed(devEnum), (Listing{{"Falcon", 2000}}));
}

TEST_F(Enumeration, CameraIdsComeFromTheDriverList) {
  fake.cameras = {{5, "Rig"}, {2, "Rig"}};
  tVideoDevEnum devEnum(&capture_, Drivers(true, false));
  EXPECT_EQ(devEnum.Enumerate(), 2);
  EXPECT_EQ(Listed(devEnum), (Listing{{"Rig - #5", 3005}, {"Rig - #2", 3002}}));
}

TEST_F(Enumeration, ModelNameFillingAllSixteenBytesIsNotOverread) {
  fake.cameras = {{1, "SIXTEEN-LETTERS!"}};
  tVideoDevEnum devEnum(&capture_, Drivers(true, false));
  devEnum.Enumerate();
  EXPECT_EQ(Listed(devEnum), (Listing{{"SIXTEEN-LETTERS! - #1", 3001}}));
}

TEST_F(Enumeration, MoreThanSixteenCamerasListsSixteenAndCountsAll) {
  for (uint32_t id = 1; id <= 20; ++id) fake.cameras.push_back({id, "Rig"});
  tVideoDevEnum devEnum(&capture_, Drivers(true, false));

  EXPECT_EQ(devEnum.Enumerate(), 20);
  EXPECT_EQ(fake.presetCount, 16u);  // the record has room for 16
  ASSERT_EQ(devEnum.Devices.size(), 16u);
  EXPECT_EQ(devEnum.Devices.back().Text, "Rig - #16");
  EXPECT_EQ(devEnum.Devices.back().Id, 3016);
}

// Driver failures.

TEST_F(Enumeration, FailingCameraCountAddsNoCamera) {
  capture_.devices = {Openable("Webcam")};
  fake.cameras = {{1, "ABC"}};
  fake.countResult = -1;
  tVideoDevEnum devEnum(&capture_, Drivers(true, false));
  EXPECT_EQ(devEnum.Enumerate(), 1);
  EXPECT_EQ(Listed(devEnum), (Listing{{"Webcam", 1000}}));
}

TEST_F(Enumeration, FailingCameraListStillCountsTheCameras) {
  fake.cameras = {{1, "ABC"}, {2, "ABC"}};
  fake.listResult = -1;
  tVideoDevEnum devEnum(&capture_, Drivers(true, true));
  EXPECT_EQ(devEnum.Enumerate(), 2);
  EXPECT_EQ(Listed(devEnum), (Listing{{"Falcon", 2000}}));
}

TEST_F(Enumeration, NoCamerasMeansNoListRequest) {
  fake.presetCount = 99;
  tVideoDevEnum devEnum(&capture_, Drivers(true, false));
  EXPECT_EQ(devEnum.Enumerate(), 0);
  EXPECT_EQ(fake.presetCount, 99u);
}

// Discovery through the loaded bindings.

TEST_F(Enumeration, UnloadedLibrariesOfferNoDiscovery) {
  uEyeimp::Release();
  falcimp::Release();
  const DriverDiscovery drivers = LoadedDriverDiscovery();
  EXPECT_EQ(drivers.GetNumberOfCameras, nullptr);
  EXPECT_EQ(drivers.GetCameraList, nullptr);
  EXPECT_FALSE(drivers.FalconLoaded);
}

TEST_F(Enumeration, LoadedLibrariesAreAskedWhenEnumerating) {
  FakeDriver driver;
  tVideoDevEnum devEnum(&capture_);
  ASSERT_TRUE(falcimp::LoadFrom(FakeDriver::kFile));
  ASSERT_TRUE(uEyeimp::LoadFrom(FakeDriver::kFile));

  devEnum.Enumerate();

  EXPECT_EQ(Listed(devEnum), (Listing{{"Falcon", 2000}}));
  EXPECT_EQ(driver.CallsOf("is_GetNumberOfCameras").size(), 1u);
  uEyeimp::Release();
  falcimp::Release();
}

}  // namespace
