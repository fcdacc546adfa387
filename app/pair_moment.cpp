#include "app/pair_moment.h"

#include <cmath>

namespace {

bool Known(const FrameStamp& stamp) { return stamp.Number != 0; }

bool SameMoment(const FrameStamp& a, const FrameStamp& b, double tolerance_ms) {
  // Two frames of one numbered trigger are one moment however late either
  // arrived; two triggers never are.
  if (a.Trigger != 0 && b.Trigger != 0) return a.Trigger == b.Trigger;
  return !Known(a) || !Known(b) || std::abs(a.Time_ms - b.Time_ms) <= tolerance_ms;
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
                                       double tolerance_ms, const PairChoice& last) {
  for (const FrameSlot& l : left) {
    for (const FrameSlot& r : right) {
      if (OlderThan(l, last.Left) || OlderThan(r, last.Right) || !SameMoment(l.Stamp, r.Stamp, tolerance_ms))
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
