#pragma once

#include <cstdint>

// Which frame of its source an image is. It travels with the image, so a
// filter or a recording can tell which moment it holds. Every kind of source
// fills it the same way:
// - Number: the source's own frame number (the driver's where it tells one,
//   else the source's count of frames), 0 when unknown. Numbers of one source
//   grow; numbers of two sources are not comparable.
// - Time_ms: the host's steady-clock time at which the frame arrived, in
//   milliseconds (0 when unknown). Never a camera's own clock: two cameras'
//   clocks are not comparable, the host's time is shared by all sources.
// - Trigger: the number of the window's software trigger that exposed the
//   frame, shared by both cameras of one trigger; 0 in live capture or when
//   the source can not tell.
struct FrameStamp {
  uint64_t Number = 0;
  double Time_ms = 0.0;
  uint64_t Trigger = 0;
  bool operator==(const FrameStamp&) const = default;
};
