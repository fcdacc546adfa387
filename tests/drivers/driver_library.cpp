#include "tests/drivers/driver_library.h"

#include <poll.h>

#include <filesystem>

namespace driver_test {

DriverLibrary::DriverLibrary(const char* file) : handle_(dlopen(file, RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    // Under AddressSanitizer dlopen runs from the sanitizer's runtime, which
    // does not see the test's run path; look beside the test program instead.
    std::error_code error;
    const auto beside = std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / file;
    handle_ = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load ") + file + ": " + dlerror());
}

uint64_t EventCounter::WaitFor(uint64_t frames, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  uint64_t seen = 0;
  while (seen < frames) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd event{fd_, POLLIN, 0};
    if (poll(&event, 1, static_cast<int>(left.count())) > 0) seen += Take();
  }
  return seen;
}

}  // namespace driver_test
