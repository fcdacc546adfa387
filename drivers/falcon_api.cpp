// The frame-grabber driver: one board digitising a PAL camera that looks at
// the same scene as camera 1 of the rig.
#include "drivers/library_devices.h"

namespace sim {

DeviceTable& LibraryDevices() {
  static DeviceTable boards(kBoardProfile);
  return boards;
}

}  // namespace sim

using sim::LibraryDevices;
using sim::SimDevice;
using sim::WithDevice;

extern "C" {

int32_t is_InitBoard(HCAM* phBoard, void*) {
  const sim::SimConfig config = sim::ReadLibraryConfig();
  if (const auto fault = sim::LibraryFault(__func__)) return *fault;
  if (phBoard == nullptr) return IS_INVALID_PARAMETER;
  // One board: a request for board 0 or 1 opens it.
  if (*phBoard > 1) return IS_CANT_OPEN_DEVICE;
  return LibraryDevices().Open(phBoard, 1, 1, config);
}

int32_t is_ExitBoard(HCAM h) {
  if (const auto fault = sim::LibraryFault(__func__)) return *fault;
  return LibraryDevices().Close(h);
}

int32_t is_SetVideoMode(HCAM h, int32_t mode) {
  // PAL, NTSC, SECAM and automatic detection.
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice&) { return mode >= 0 && mode <= 3 ? IS_SUCCESS : IS_INVALID_PARAMETER; });
}

int32_t is_SetScaler(HCAM h, float sx, float sy) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetScaler(sx, sy); });
}

}  // extern "C"
