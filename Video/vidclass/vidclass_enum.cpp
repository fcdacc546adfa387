#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Video/vidclass/arvimp.h"
#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass.h"

namespace {

std::string CameraText(const uEyeimp::CameraInfo& info) {
  const std::string model(info.Model, strnlen(info.Model, sizeof info.Model));
  char text[64];
  std::snprintf(text, sizeof text, "%s - #%d", model.c_str(), static_cast<int>(info.CameraId));
  return text;
}

// A stereo camera's one device is listed once, and gives each list its eye.
int32_t CaptureDeviceId(platform::StereoLayout layout) {
  switch (layout) {
    case platform::StereoLayout::kSideBySide:
      return kSideBySideDeviceIdBase;
    case platform::StereoLayout::kTopBottom:
      return kTopBottomDeviceIdBase;
    case platform::StereoLayout::kNone:
      break;
  }
  return kCaptureDeviceIdBase;
}

// "<vendor> <model> - #<serial>", ids 4000 + the camera's place.
int32_t AddGenICamCameras(std::vector<DeviceEntry>& devices) {
  const std::vector<arvimp::CameraName> cameras = arvimp::ListCameras();
  for (std::size_t index = 0; index < cameras.size(); ++index) {
    const arvimp::CameraName& name = cameras[index];
    devices.push_back({name.Vendor + " " + name.Model + " - #" + name.Serial,
                       kGenICamDeviceIdBase + static_cast<int32_t>(index)});
  }
  return static_cast<int32_t>(cameras.size());
}

}  // namespace

DriverDiscovery LoadedDriverDiscovery() {
  DriverDiscovery drivers;
  if (uEyeimp::Loaded()) {
    drivers.GetNumberOfCameras = uEyeimp::Api().is_GetNumberOfCameras;
    drivers.GetCameraList = uEyeimp::Api().is_GetCameraList;
  }
  drivers.FalconLoaded = falcimp::Loaded();
  return drivers;
}

tVideoDevEnum::tVideoDevEnum(platform::CaptureDeviceSource* captureDevices)
    : captureDevices_(captureDevices) {}

tVideoDevEnum::tVideoDevEnum(platform::CaptureDeviceSource* captureDevices, const DriverDiscovery& drivers)
    : captureDevices_(captureDevices), fixedDrivers_(true), drivers_(drivers) {}

tVideoDevEnum::~tVideoDevEnum() = default;

int32_t tVideoDevEnum::Enumerate() {
  Devices.clear();
  const DriverDiscovery drivers = fixedDrivers_ ? drivers_ : LoadedDriverDiscovery();
  int32_t count = AddCaptureDevices();
  count += AddUEyeCameras(drivers);
  if (drivers.FalconLoaded) Devices.push_back({"Falcon", kFalconDeviceId});
  // Drivers given by the caller stand for the whole system: no GenICam
  // camera is looked for then.
  if (!fixedDrivers_) count += AddGenICamCameras(Devices);
  return count;
}

int32_t tVideoDevEnum::AddCaptureDevices() {
  if (captureDevices_ == nullptr) {
    if (!ownedSource_) ownedSource_ = platform::SystemCaptureDevices();
    captureDevices_ = ownedSource_.get();
  }
  const std::vector<platform::CaptureDevice> devices = captureDevices_->Devices();
  int32_t count = 0;
  for (std::size_t index = 0; index < devices.size(); ++index) {
    // A device that cannot be opened keeps its index, so the ids of the
    // others still name their own device.
    if (!devices[index].openable) continue;
    Devices.push_back(
        {devices[index].friendly_name, CaptureDeviceId(devices[index].layout) + static_cast<int32_t>(index)});
    ++count;
  }
  return count;
}

int32_t tVideoDevEnum::AddUEyeCameras(const DriverDiscovery& drivers) {
  if (drivers.GetNumberOfCameras == nullptr || drivers.GetCameraList == nullptr) return 0;
  int32_t cameras = 0;
  if (drivers.GetNumberOfCameras(&cameras) != 0 || cameras <= 0) return 0;
  // The record has room for 16 entries: more cameras are counted, and the
  // first 16 listed.
  uEyeimp::CameraList list{};
  list.Count = static_cast<uint32_t>(std::min(cameras, uEyeimp::kMaxListedCameras));
  if (drivers.GetCameraList(&list) == 0) {
    const uint32_t listed = std::min<uint32_t>(list.Count, uEyeimp::kMaxListedCameras);
    for (uint32_t i = 0; i < listed; ++i)
      Devices.push_back(
          {CameraText(list.Info[i]), kUEyeDeviceIdBase + static_cast<int32_t>(list.Info[i].CameraId)});
  }
  return cameras;
}
