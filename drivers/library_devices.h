#pragma once

#include "drivers/device_table.h"

namespace sim {

// The open devices of the library this code is linked into: cameras in
// libuEye_api.so, the board in libfalcon.so.
DeviceTable& LibraryDevices();

}  // namespace sim
