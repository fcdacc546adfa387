#include "drivers/sensor_timing.h"

#include <algorithm>
#include <cmath>

namespace sim {

FrameTimeRange FrameTimeRangeFor(int pixel_clock_mhz, int width, int height) {
  const double line_s = (width + kHorizontalBlankPixels) / (pixel_clock_mhz * 1e6);
  const double shortest = line_s * (height + kVerticalBlankLines);
  return {shortest, std::max(kLongestFrameSeconds, shortest), line_s};
}

double FrameTimeInEffect(const FrameTimeRange& range, double requested_fps) {
  if (!(requested_fps > 0.0)) return range.longest_s;
  const double wanted = std::clamp(1.0 / requested_fps, range.shortest_s, range.longest_s);
  const double lines = std::round((wanted - range.shortest_s) / range.step_s);
  return std::min(range.shortest_s + lines * range.step_s, range.longest_s);
}

ExposureRange ExposureRangeFor(const FrameTimeRange& range, double frame_time_s) {
  const double step_ms = range.step_s * 1e3;
  return {step_ms, std::max(step_ms, frame_time_s * 1e3 - step_ms), step_ms};
}

double ExposureInEffect(const ExposureRange& range, double requested_ms) {
  if (std::isnan(requested_ms)) return range.min_ms;
  const double wanted = std::clamp(requested_ms, range.min_ms, range.max_ms);
  const double steps = std::round((wanted - range.min_ms) / range.step_ms);
  return std::min(range.min_ms + steps * range.step_ms, range.max_ms);
}

}  // namespace sim
