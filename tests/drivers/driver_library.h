#pragma once

#include <dlfcn.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "drivers/sim_driver_api.h"

namespace driver_test {

// A driver library opened the way the program opens it: by file name, through
// the run path, with every function looked up by name.
class DriverLibrary {
 public:
  explicit DriverLibrary(const char* file);
  ~DriverLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  void* Find(const char* name) const { return dlsym(handle_, name); }

  template <typename Function>
  Function* Fn(const char* name) const {
    void* entry = Find(name);
    if (entry == nullptr) throw std::runtime_error(std::string("missing ") + name);
    return reinterpret_cast<Function*>(entry);
  }

 private:
  void* handle_;
};

// DRIVER(lib, is_InitCamera)(&handle, nullptr) calls the library's entry with
// the interface's own signature.
#define DRIVER(lib, name) (lib).Fn<decltype(name)>(#name)

// The frame event as the program makes it: an eventfd whose counter adds up
// every frame the driver announced since the last read.
class EventCounter {
 public:
  EventCounter() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~EventCounter() { close(fd_); }
  EventCounter(const EventCounter&) = delete;
  EventCounter& operator=(const EventCounter&) = delete;

  int fd() const { return fd_; }
  // Frames announced since the last call.
  uint64_t Take() {
    uint64_t count = 0;
    if (read(fd_, &count, sizeof count) != sizeof count) return 0;
    return count;
  }
  // Waits until at least `frames` were announced (counting from the last
  // Take) or the time is up; returns how many came.
  uint64_t WaitFor(uint64_t frames, std::chrono::milliseconds limit);

 private:
  int fd_;
};

}  // namespace driver_test
