#pragma once

#include <atomic>

namespace platform {

// At most one undelivered frame message per source: a source that is faster
// than the window posts again only once its last message has been taken, so
// the queue and the latency stay bounded behind a slow filter chain. The
// pair handled still reads the newest frame: the image is read at handling.
class FrameMessageGate {
 public:
  // True when the caller may post: no message of this source is waiting.
  bool Claim() { return !pending_.exchange(true, std::memory_order_acq_rel); }
  // The waiting message has been taken off the queue (or dropped).
  void Taken() { pending_.store(false, std::memory_order_release); }
  [[nodiscard]] bool Pending() const { return pending_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> pending_{false};
};

}  // namespace platform
