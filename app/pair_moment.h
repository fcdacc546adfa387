#pragma once

// Which two frames make a pair: the newest frames of the two sources of the
// same numbered trigger, else whose arrivals on the host lie within half a
// frame period, and only a pair that was not handled before.

#include <optional>
#include <span>

#include "Video/vidclass/frame_store.h"

struct PairChoice {
  FrameSlot Left;
  FrameSlot Right;
};

// How two frames are judged one moment.
struct MomentRule {
  double Tolerance_ms = 0.0;
  // Per side, left and right: its frames carry the numbers of the triggers
  // they answer, so one of its frames without a number was taken live (before
  // or after trigger mode) and is never one moment with a triggered frame.
  bool LeftNumbersTriggers = false;
  bool RightNumbersTriggers = false;
};

// Both lists newest first. A stamp of frame number 0 is unknown: it matches
// any time and counts as new. Nothing when no new pair lies within tolerance.
std::optional<PairChoice> ChooseMoment(std::span<const FrameSlot> left, std::span<const FrameSlot> right,
                                       const MomentRule& rule, const PairChoice& last);

// The side whose newest frame is the older one when no pair is found: that
// side's partner is still to come, so it waits for its next frame. 1 or 2.
int OlderSide(std::span<const FrameSlot> left, std::span<const FrameSlot> right);
