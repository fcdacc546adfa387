#pragma once

// The live figures of the status bar: how fast each source delivers, how
// many pairs reach the chain, and how many frames the window never took.

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "Video/vidclass/frame_stamp.h"

// Events of the last few seconds and their rate; the times are the window's
// own (milliseconds on one steady clock).
class TRateWindow {
 public:
  static constexpr double kSpan_ms = 2000;
  // One event at that time; count says how many frames it stands for (a
  // source's frame number may jump past frames the window never took).
  void Add(double time_ms, uint64_t count = 1);
  // Events per second over the span before now; 0 with fewer than two.
  double PerSecond(double now_ms);
  void Clear() { events_.clear(); }

 private:
  void Forget(double now_ms);
  struct Event {
    double time_ms;
    uint64_t count;
  };
  std::deque<Event> events_;
};

struct TRatesShown {
  std::array<double, 2> FramesPerSecond{};
  double PairsPerSecond = 0;
  std::array<uint64_t, 2> Dropped{};
};

class TLiveRates {
 public:
  // A frame of source 1 or 2 that the window took.
  void Frame(int side, const FrameStamp& stamp, double now_ms);
  void Pair(double now_ms);
  TRatesShown Now(double now_ms);

 private:
  struct Source {
    TRateWindow frames;
    uint64_t last_number = 0;
    uint64_t dropped = 0;
  };
  std::array<Source, 2> sources_;
  TRateWindow pairs_;
};

// What a recording tells the panel.
struct TRecordingShown {
  double Seconds = 0;
  int64_t FramesLeft = 0;
  int64_t FramesRight = 0;
};

// "Left 8.0 fps  Right 8.0 fps  Pairs 8.0/s  Dropped 0 / 2", then
// "  Rec 00:12.5  98 / 98 frames" while recording.
std::string RatesLine(const TRatesShown& rates, const std::optional<TRecordingShown>& recording);

// Milliseconds on the steady clock, for the rates' times.
double SteadyNow_ms();
