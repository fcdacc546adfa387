#pragma once

#include <cstdint>

// Which frame of its source an image is: the driver's frame number (0 when the
// source gives none) and its capture time on the steady clock in milliseconds
// (0 when unknown). It travels with the image, so a filter or a recording can
// tell which trigger it holds.
struct FrameStamp {
  uint64_t Number = 0;
  double Time_ms = 0.0;
  bool operator==(const FrameStamp&) const = default;
};
