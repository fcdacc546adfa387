#pragma once

// Timing of the simulated CMOS sensor: the pixel clock and the image size set
// the shortest frame time; frame rate and exposure are clamped to what the
// readout allows and quantised to whole line times, as the hardware does.

namespace sim {

inline constexpr int kPixelClockMinMHz = 5;
inline constexpr int kPixelClockMaxMHz = 40;
// Blanking that the readout adds to every line and every frame.
inline constexpr int kHorizontalBlankPixels = 160;
inline constexpr int kVerticalBlankLines = 20;
// Longest frame the vertical blanking register allows, at least.
inline constexpr double kLongestFrameSeconds = 1.0;

struct FrameTimeRange {
  double shortest_s;
  double longest_s;
  double step_s;  // one line time
};

struct ExposureRange {
  double min_ms;
  double max_ms;
  double step_ms;
};

FrameTimeRange FrameTimeRangeFor(int pixel_clock_mhz, int width, int height);

// Frame time in effect for a requested rate: clamped to the range and rounded
// to whole lines. A rate of zero or below asks for the slowest rate.
double FrameTimeInEffect(const FrameTimeRange& range, double requested_fps);

// Exposure can last at most one frame time less one line.
ExposureRange ExposureRangeFor(const FrameTimeRange& range, double frame_time_s);

double ExposureInEffect(const ExposureRange& range, double requested_ms);

}  // namespace sim
