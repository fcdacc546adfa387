#include "depth/memory_reuse.h"

#include <malloc.h>

#include <mutex>

namespace depth {

void ReuseFreedMemory() {
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr int kMiB = 1 << 20;
    mallopt(M_MMAP_THRESHOLD, 32 * kMiB);
    mallopt(M_TRIM_THRESHOLD, 64 * kMiB);
  });
}

}  // namespace depth
