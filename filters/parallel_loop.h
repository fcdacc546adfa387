#pragma once

// A loop split over OpenCV's pool of threads, as cv::parallel_for_. The
// thread checker does not see the pool hand a loop to its workers and back
// (uninstrumented atomics): this says so, so that only that hand-over is
// taken as ordered and every access of the parts themselves, to the
// caller's data and to each other's, stays checked.

#include <opencv2/core/utility.hpp>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace parallel {

template <class Body>
void ForEachPart(const cv::Range& range, const Body& body, double parts = -1.0) {
#if defined(__SANITIZE_THREAD__)
  char handed_out = 0;
  char handed_back = 0;
  __tsan_release(&handed_out);
  cv::parallel_for_(
      range,
      [&](const cv::Range& part) {
        __tsan_acquire(&handed_out);
        body(part);
        __tsan_release(&handed_back);
      },
      parts);
  __tsan_acquire(&handed_back);
#else
  cv::parallel_for_(range, body, parts);
#endif
}

}  // namespace parallel
