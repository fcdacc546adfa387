#include "Video/vidclass/arvimp.h"

#include <arv.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace arvimp {
namespace {

// Serial numbers of the fake cameras, by their place in the list.
std::string FakeSerial(int index) { return "GC-" + std::to_string(index + 1); }

std::mutex& SetUpMutex() {
  static std::mutex mutex;
  return mutex;
}

FakeCameraSetUp& SetUpHook() {
  static FakeCameraSetUp set_up;
  return set_up;
}

// With the fakes asked for, no interface may look for cameras: GigE Vision
// discovery broadcasts on every network interface, and the fakes are made
// directly without any of them.
void KeepDiscoveryOff() {
  for (unsigned int i = 0; i < arv_get_n_interfaces(); ++i) arv_disable_interface(arv_get_interface_id(i));
}

const char* Text(const char* text) { return text != nullptr ? text : ""; }

ArvCamera* OpenFake(int index, GError** error) {
  ArvDevice* device = arv_fake_device_new(FakeSerial(index).c_str(), error);
  if (device == nullptr) return nullptr;
  {
    const std::lock_guard lock(SetUpMutex());
    if (SetUpHook()) SetUpHook()(index, arv_fake_device_get_fake_camera(ARV_FAKE_DEVICE(device)));
  }
  ArvCamera* camera = arv_camera_new_with_device(device, error);
  // The camera keeps its own reference to the device.
  g_object_unref(device);
  return camera;
}

}  // namespace

int FakeCamerasAsked() {
  const char* asked = std::getenv(kFakeCamerasVariable);
  if (asked == nullptr) return -1;
  char* end = nullptr;
  const long count = std::strtol(asked, &end, 10);
  // Anything set but not a count still keeps discovery off.
  if (end == asked || count < 0) return 0;
  return static_cast<int>(std::min(count, 16L));
}

std::vector<CameraName> ListCameras() {
  std::vector<CameraName> names;
  const int fakes = FakeCamerasAsked();
  if (fakes >= 0) {
    KeepDiscoveryOff();
    for (int index = 0; index < fakes; ++index) {
      // The fake introduces itself as any camera does.
      ArvDevice* device = arv_fake_device_new(FakeSerial(index).c_str(), nullptr);
      if (device == nullptr) continue;
      names.push_back({Text(arv_device_get_string_feature_value(device, "DeviceVendorName", nullptr)),
                       Text(arv_device_get_string_feature_value(device, "DeviceModelName", nullptr)),
                       FakeSerial(index)});
      g_object_unref(device);
    }
    return names;
  }
  arv_update_device_list();
  for (unsigned int index = 0; index < arv_get_n_devices(); ++index)
    names.push_back({Text(arv_get_device_vendor(index)), Text(arv_get_device_model(index)),
                     Text(arv_get_device_serial_nbr(index))});
  return names;
}

ArvCamera* OpenCamera(int index, GError** error) {
  if (index < 0) {
    g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_NOT_FOUND, "no camera %d", index);
    return nullptr;
  }
  const int fakes = FakeCamerasAsked();
  if (fakes >= 0) {
    KeepDiscoveryOff();
    if (index >= fakes) {
      g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_NOT_FOUND, "no fake camera %d", index);
      return nullptr;
    }
    return OpenFake(index, error);
  }
  // The index names the camera of the last listing, which the library keeps.
  const char* id = arv_get_device_id(static_cast<unsigned int>(index));
  if (id == nullptr) {
    g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_NOT_FOUND, "no camera %d", index);
    return nullptr;
  }
  return arv_camera_new(id, error);
}

void SetFakeCameraSetUp(FakeCameraSetUp set_up) {
  const std::lock_guard lock(SetUpMutex());
  SetUpHook() = std::move(set_up);
}

int32_t ResultOf(const GError* error) {
  if (error == nullptr) return 0;
  return error->code != 0 ? error->code : -1;
}

std::string ResultLine(const std::string& what, const GError* error) {
  std::string line = what + " " + std::to_string(ResultOf(error));
  if (error != nullptr) line += std::string(" ") + Text(error->message);
  return line;
}

}  // namespace arvimp
