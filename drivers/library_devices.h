#pragma once

#include "drivers/device_table.h"

namespace sim {

// The open devices of the library this code is linked into: cameras in
// libuEye_api.so, the board in libfalcon.so.
DeviceTable& LibraryDevices();

// The environment, read as a device is counted or opened; changed failure
// rules take effect from here, counted afresh.
inline SimConfig ReadLibraryConfig() {
  SimConfig config = ReadConfigFromEnvironment();
  LibraryDevices().Faults().Refresh(config.fault_text, config.faults);
  return config;
}

// The injected failure of this call of a function that reaches no device.
inline std::optional<int32_t> LibraryFault(const char* name) { return LibraryDevices().Faults().Fault(name); }

}  // namespace sim
