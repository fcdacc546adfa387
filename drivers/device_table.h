#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "drivers/fault_plan.h"
#include "drivers/sim_device.h"

namespace sim {

// The open devices of one library by handle. Every opening gets a handle of
// its own, never a camera id and never one used before, so a handle kept by a
// caller whose open failed, or kept after closing, reaches no device.
// Destroying the table, as unloading the library does, closes every device
// still open.
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
  // Injected failures; counting crosses every device of the library.
  FaultPlan& Faults() const { return faults_; }

 private:
  const DeviceProfile& profile_;
  mutable std::mutex mutex_;
  struct OpenDevice {
    uint32_t camera_id;
    std::shared_ptr<SimDevice> device;
  };
  bool IsOpen(uint32_t camera_id) const;

  static constexpr uint32_t kFirstHandle = 0x100;  // above every camera id
  uint32_t next_handle_ = kFirstHandle;
  std::map<uint32_t, OpenDevice> devices_;
  mutable FaultPlan faults_;
};

// Runs `call` on the device behind `handle`, or answers "invalid handle" as
// for a camera that is gone; an injected failure of function `name` answers
// its code without the call.
template <typename Call>
int32_t WithDevice(const char* name, const DeviceTable& table, uint32_t handle, Call&& call) {
  if (const std::optional<int32_t> fault = table.Faults().Fault(name)) return *fault;
  const std::shared_ptr<SimDevice> device = table.Find(handle);
  if (!device || device->Gone()) return IS_INVALID_HANDLE;
  return call(*device);
}

}  // namespace sim
