#pragma once

// Where playback stands in a recording or an image folder: how many pairs
// it holds, which one is read next, the rate it was taken at and, when
// known, each pair's stamps.

#include <array>
#include <string>
#include <vector>

#include "Video/vidclass/frame_stamp.h"
#include "app/pair_stamps.h"

struct TPlaybackIndex {
  int Count = 0;
  // The pair read next, from 0.
  int Next = 0;
  // Frames per second of the recording.
  double Rate = 0;
  // One per pair, in the pairs' order; empty without stamps.
  std::vector<TPairStamp> Stamps;

  bool AtEnd() const { return Next >= Count; }
  // The pair shown last, -1 before the first.
  int Shown() const { return Next - 1; }
  // The stamps pair `pair` was recorded with; none without stamps.
  std::array<FrameStamp, 2> SidesOf(int pair) const;
  // Milliseconds from pair `pair` to the next one: their recorded times
  // when both are known, else one frame period of Rate.
  double Interval_ms(int pair) const;
};

// "Frame 12 of 38", with the shown pair's stamps after it when there are
// some: "Frame 12 of 38: pair 11, trigger 57, 0.440 s" (seconds from the
// first pair).
std::string FrameLabel(const TPlaybackIndex& index);

// The name a pair was recorded under: "run.avi" for "runL.avi" or
// "runR.avi".
std::string RecordedName(const std::string& pair_file);

// The stamps of a stamp file when it can be used whole; none when there is
// no such file or it is damaged, and then `why` (empty when there is no
// file) says so in one line.
std::vector<TPairStamp> UsableStamps(const std::string& path, std::string& why);
