#include "app/pair_moment.h"

#include <cmath>

namespace {

bool Known(const FrameStamp& stamp) { return stamp.Number != 0; }

bool SameMoment(const FrameStamp& left, const FrameStamp& right, const MomentRule& rule) {
  // Two frames of one numbered trigger are one moment however late either
  // arrived; two triggers never are.
  if (left.Trigger != 0 && right.Trigger != 0) return left.Trigger == right.Trigger;
  // A live frame of a side that numbers its triggered frames, beside a
  // triggered frame: the two were taken in different modes.
  if (left.Trigger != 0 && rule.RightNumbersTriggers && Known(right)) return false;
  if (right.Trigger != 0 && rule.LeftNumbersTriggers && Known(left)) return false;
  return !Known(left) || !Known(right) || std::abs(left.Time_ms - right.Time_ms) <= rule.Tolerance_ms;
}

bool Handled(const FrameSlot& slot, const FrameSlot& last) {
  return Known(slot.Stamp) && slot.Memory == last.Memory && slot.Stamp == last.Stamp;
}

// A frame older than the one its side last handed on: a pair never goes back.
bool OlderThan(const FrameSlot& slot, const FrameSlot& last) {
  return Known(slot.Stamp) && Known(last.Stamp) && slot.Stamp.Number < last.Stamp.Number;
}

}  // namespace

std::optional<PairChoice> ChooseMoment(std::span<const FrameSlot> left, std::span<const FrameSlot> right,
                                       const MomentRule& rule, const PairChoice& last) {
  for (const FrameSlot& l : left) {
    for (const FrameSlot& r : right) {
      if (OlderThan(l, last.Left) || OlderThan(r, last.Right) || !SameMoment(l.Stamp, r.Stamp, rule))
        continue;
      // The newest pair within tolerance; one handled already offers nothing new.
      if (Handled(l, last.Left) && Handled(r, last.Right)) return std::nullopt;
      return PairChoice{l, r};
    }
  }
  return std::nullopt;
}

int OlderSide(std::span<const FrameSlot> left, std::span<const FrameSlot> right) {
  if (left.empty()) return 1;
  if (right.empty()) return 2;
  return left.front().Stamp.Time_ms < right.front().Stamp.Time_ms ? 1 : 2;
}
