#include "drivers/device_table.h"

namespace sim {

DeviceTable::~DeviceTable() {
  std::map<uint32_t, std::shared_ptr<SimDevice>> open;
  {
    std::lock_guard lock(mutex_);
    open.swap(devices_);
  }
  open.clear();  // joins each render thread
}

int32_t DeviceTable::Open(uint32_t* handle, uint32_t requested, int available, const SimConfig& config) {
  if (handle == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  uint32_t id = requested;
  if (id == 0) {
    for (uint32_t candidate = 1; candidate <= static_cast<uint32_t>(available); ++candidate) {
      if (devices_.count(candidate) == 0) {
        id = candidate;
        break;
      }
    }
  }
  if (id == 0 || id > static_cast<uint32_t>(available) || devices_.count(id) != 0) return IS_CANT_OPEN_DEVICE;
  devices_[id] = std::make_shared<SimDevice>(profile_, id, config);
  *handle = id;
  return IS_SUCCESS;
}

int32_t DeviceTable::Close(uint32_t handle) {
  std::shared_ptr<SimDevice> device;
  {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(handle);
    if (found == devices_.end()) return IS_INVALID_HANDLE;
    device = std::move(found->second);
    devices_.erase(found);
  }
  device.reset();  // outside the table lock: the join may wait for a frame
  return IS_SUCCESS;
}

std::shared_ptr<SimDevice> DeviceTable::Find(uint32_t handle) const {
  std::lock_guard lock(mutex_);
  const auto found = devices_.find(handle);
  return found == devices_.end() ? nullptr : found->second;
}

}  // namespace sim
