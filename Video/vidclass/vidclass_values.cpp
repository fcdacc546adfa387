#include "Video/vidclass/vidclass_values.h"

#include <cmath>
#include <cstdio>
#include <limits>

int32_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLowest = std::numeric_limits<int32_t>::min();
  constexpr double kHighest = std::numeric_limits<int32_t>::max();
  // nearbyint rounds in the default mode: to nearest, halves to even.
  const double rounded = std::nearbyint(value);
  if (rounded <= kLowest) return std::numeric_limits<int32_t>::min();
  if (rounded >= kHighest) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(rounded);
}

std::string HexAddress(const void* address) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(address) & 0xFFFFFFFFu));
  return text;
}

ValueRange FrameRateRangeFromFrameTimes(double shortest_s, double longest_s, double step_s) {
  const auto rate = [](double time_s) { return time_s > 0.0 ? 1.0 / time_s : 0.0; };
  return ValueRange{rate(longest_s), rate(shortest_s), step_s};
}

bool CaptureFormatForChannels(int32_t channels, CaptureFormat& format) {
  switch (channels) {
    case 1:
      format = {6, 8};
      return true;
    case 3:
      format = {1, 24};
      return true;
    case 4:
      format = {0, 32};
      return true;
    default:
      return false;
  }
}

IplImage* CreateFrameHeader(int32_t width, int32_t height, int32_t channels) {
  if (channels == 4)
    return iplCreateImageHeader(4, 0, IPL_DEPTH_8U, "RGBA", "BGRA", IPL_DATA_ORDER_PIXEL, IPL_ORIGIN_TL,
                                IPL_ALIGN_DWORD, width, height, nullptr, nullptr, nullptr, nullptr);
  return CreateImage(CvSize{width, height}, channels, IPL_DEPTH_8U, false);
}

std::string ResultLine(const char* prefix, int32_t result) { return prefix + std::to_string(result); }

void FillFrame(IplImage* image, int value) {
  if (image != nullptr && image->imageData != nullptr) iplSet(image, value);
}
