#include "drivers/device_table.h"

namespace sim {

DeviceTable::~DeviceTable() {
  std::map<uint32_t, OpenDevice> open;
  {
    std::lock_guard lock(mutex_);
    open.swap(devices_);
  }
  open.clear();  // joins each render thread
}

bool DeviceTable::IsOpen(uint32_t camera_id) const {
  for (const auto& [handle, open] : devices_) {
    if (open.camera_id == camera_id) return true;
  }
  return false;
}

int32_t DeviceTable::Open(uint32_t* handle, uint32_t requested, int available, const SimConfig& config) {
  if (handle == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  uint32_t id = requested;
  for (uint32_t candidate = 1; id == 0 && candidate <= static_cast<uint32_t>(available); ++candidate) {
    if (!IsOpen(candidate)) id = candidate;
  }
  if (id == 0 || id > static_cast<uint32_t>(available) || IsOpen(id)) return IS_CANT_OPEN_DEVICE;
  const uint32_t issued = next_handle_++;
  devices_[issued] = {id, std::make_shared<SimDevice>(profile_, id, config)};
  *handle = issued;
  return IS_SUCCESS;
}

int32_t DeviceTable::Close(uint32_t handle) {
  std::shared_ptr<SimDevice> device;
  {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(handle);
    if (found == devices_.end()) return IS_INVALID_HANDLE;
    device = std::move(found->second.device);
    devices_.erase(found);
  }
  // A camera that is gone answers as one, though its handle is freed.
  const bool gone = device->Gone();
  device.reset();  // outside the table lock: the join may wait for a frame
  return gone ? IS_INVALID_HANDLE : IS_SUCCESS;
}

std::shared_ptr<SimDevice> DeviceTable::Find(uint32_t handle) const {
  std::lock_guard lock(mutex_);
  const auto found = devices_.find(handle);
  return found == devices_.end() ? nullptr : found->second.device;
}

}  // namespace sim
