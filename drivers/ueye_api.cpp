// The camera driver: a stereo rig of simulated USB cameras.
#include <algorithm>
#include <cstring>

#include "drivers/library_devices.h"
#include "drivers/rig_queries.h"

namespace sim {

DeviceTable& LibraryDevices() {
  static DeviceTable cameras(kCameraProfile);
  return cameras;
}

}  // namespace sim

using sim::LibraryDevices;
using sim::SimDevice;
using sim::WithDevice;

extern "C" {

int32_t is_GetNumberOfCameras(int32_t* pCount) {
  const sim::SimConfig config = sim::ReadLibraryConfig();
  if (const auto fault = sim::LibraryFault(__func__)) return *fault;
  if (pCount == nullptr) return IS_INVALID_PARAMETER;
  *pCount = config.camera_count;
  return IS_SUCCESS;
}

int32_t is_GetCameraList(void* record) {
  const sim::SimConfig config = sim::ReadLibraryConfig();
  if (const auto fault = sim::LibraryFault(__func__)) return *fault;
  if (record == nullptr) return IS_INVALID_PARAMETER;
  auto* bytes = static_cast<unsigned char*>(record);
  uint32_t room = 0;
  std::memcpy(&room, bytes, sizeof room);
  // A count of 0 asks how many cameras there are; otherwise the caller's
  // count is the room it made, and it learns how many entries were filled.
  const auto filled = static_cast<uint32_t>(config.camera_count);
  if (room == 0) {
    std::memcpy(bytes, &filled, sizeof filled);
    return IS_SUCCESS;
  }
  const uint32_t entries = std::min(room, filled);
  for (uint32_t i = 0; i < entries; ++i) {
    unsigned char* entry = bytes + 4 + static_cast<size_t>(i) * kCameraListEntrySize;
    std::memset(entry, 0, kCameraListEntrySize);
    const uint32_t camera_id = i + 1;
    std::memcpy(entry, &camera_id, sizeof camera_id);
    std::memcpy(entry + kCameraListModelOffset, config.model_name.c_str(), config.model_name.size() + 1);
  }
  std::memcpy(bytes, &entries, sizeof entries);
  return IS_SUCCESS;
}

int32_t is_InitCamera(HCAM* phCam, void*) {
  const sim::SimConfig config = sim::ReadLibraryConfig();
  if (const auto fault = sim::LibraryFault(__func__)) return *fault;
  if (phCam == nullptr) return IS_INVALID_PARAMETER;
  const int32_t result = LibraryDevices().Open(phCam, *phCam, config.camera_count, config);
  if (result == IS_SUCCESS && !config.rig_file.empty()) {
    sim::WriteRigFile(config, config.rig_file, config.rig_file_width, config.rig_file_height);
  }
  return result;
}

int32_t is_ExitCamera(HCAM h) {
  if (const auto fault = sim::LibraryFault(__func__)) return *fault;
  return LibraryDevices().Close(h);
}

int32_t is_GetCurrentField(HCAM h, int32_t* pField) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice&) {
    if (pField == nullptr) return IS_INVALID_PARAMETER;
    *pField = 0;  // progressive sensor: always the whole frame
    return IS_SUCCESS;
  });
}

int32_t is_SetFrameRate(HCAM h, double fps, double* pNewFps) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.SetFrameRate(fps, pNewFps); });
}

int32_t is_GetFrameTimeRange(HCAM h, double* pMin, double* pMax, double* pStep) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.FrameTimes(pMin, pMax, pStep); });
}

int32_t is_SetExposureTime(HCAM h, double ms, double* pNewMs) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetExposure(ms, pNewMs); });
}

int32_t is_GetExposureRange(HCAM h, double* pMin, double* pMax, double* pStep) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.ExposureLimits(pMin, pMax, pStep); });
}

int32_t is_SetPixelClock(HCAM h, int32_t mhz) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetPixelClock(mhz); });
}

int32_t is_GetPixelClockRange(HCAM h, int32_t* pMin, int32_t* pMax) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.PixelClockLimits(pMin, pMax); });
}

int32_t is_SetWhiteBalance(HCAM h, int32_t mode) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice&) { return mode >= 0 ? IS_SUCCESS : IS_INVALID_PARAMETER; });
}

int32_t is_SetExternalTrigger(HCAM h, int32_t mode) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetTriggerMode(mode); });
}

int32_t is_ForceTrigger(HCAM h) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.ForceTrigger(); });
}

int32_t is_FreezeVideo(HCAM h, int32_t wait) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.Freeze(wait); });
}

}  // extern "C"
