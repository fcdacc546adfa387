#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "drivers/sim_device.h"

namespace sim {

// The open devices of one library by handle. The handle of a device is its
// camera id (the board's is 1). Destroying the table, as unloading the
// library does, closes every device still open.
class DeviceTable {
 public:
  explicit DeviceTable(const DeviceProfile& profile) : profile_(profile) {}
  ~DeviceTable();
  DeviceTable(const DeviceTable&) = delete;
  DeviceTable& operator=(const DeviceTable&) = delete;

  // Opens device `requested` (0: the first free one) of `available`; writes its handle.
  int32_t Open(uint32_t* handle, uint32_t requested, int available, const SimConfig& config);
  int32_t Close(uint32_t handle);
  std::shared_ptr<SimDevice> Find(uint32_t handle) const;

 private:
  const DeviceProfile& profile_;
  mutable std::mutex mutex_;
  std::map<uint32_t, std::shared_ptr<SimDevice>> devices_;
};

// Runs `call` on the device behind `handle`, or answers "invalid handle".
template <typename Call>
int32_t WithDevice(const DeviceTable& table, uint32_t handle, Call&& call) {
  const std::shared_ptr<SimDevice> device = table.Find(handle);
  if (!device) return IS_INVALID_HANDLE;
  return call(*device);
}

}  // namespace sim
