#include "app/live_rates.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

void TRateWindow::Add(double time_ms, uint64_t count) {
  Forget(time_ms);
  events_.push_back({time_ms, count});
}

void TRateWindow::Forget(double now_ms) {
  while (!events_.empty() && events_.front().time_ms < now_ms - kSpan_ms) events_.pop_front();
}

double TRateWindow::PerSecond(double now_ms) {
  Forget(now_ms);
  if (events_.size() < 2) return 0;
  const double span_ms = events_.back().time_ms - events_.front().time_ms;
  if (span_ms <= 0) return 0;
  // The first event opens the span; the frames counted are those after it.
  uint64_t frames = 0;
  for (size_t i = 1; i < events_.size(); ++i) frames += events_[i].count;
  return frames * 1000.0 / span_ms;
}

void TLiveRates::Frame(int side, const FrameStamp& stamp, double now_ms) {
  if (side < 1 || side > 2) return;
  Source& source = sources_[static_cast<size_t>(side - 1)];
  uint64_t count = 1;
  if (stamp.Number != 0 && source.last_number != 0) {
    // The same frame taken again (a pair held twice) adds nothing; a lower
    // number is a source that started counting again.
    if (stamp.Number == source.last_number) return;
    if (stamp.Number > source.last_number) {
      count = stamp.Number - source.last_number;
      source.dropped += count - 1;
    }
  }
  if (stamp.Number != 0) source.last_number = stamp.Number;
  source.frames.Add(now_ms, count);
}

void TLiveRates::Pair(double now_ms) { pairs_.Add(now_ms); }

TRatesShown TLiveRates::Now(double now_ms) {
  TRatesShown shown;
  for (size_t i = 0; i < sources_.size(); ++i) {
    shown.FramesPerSecond[i] = sources_[i].frames.PerSecond(now_ms);
    shown.Dropped[i] = sources_[i].dropped;
  }
  shown.PairsPerSecond = pairs_.PerSecond(now_ms);
  return shown;
}

std::string RatesLine(const TRatesShown& rates, const std::optional<TRecordingShown>& recording) {
  char text[200];
  std::snprintf(text, sizeof text, "Left %.1f fps  Right %.1f fps  Pairs %.1f/s  Dropped %llu / %llu",
                rates.FramesPerSecond[0], rates.FramesPerSecond[1], rates.PairsPerSecond,
                static_cast<unsigned long long>(rates.Dropped[0]),
                static_cast<unsigned long long>(rates.Dropped[1]));
  std::string line = text;
  if (recording) {
    const double seconds = std::max(recording->Seconds, 0.0);
    const int minutes = static_cast<int>(seconds / 60);
    std::snprintf(text, sizeof text, "  Rec %02d:%04.1f  %lld / %lld frames", minutes,
                  seconds - minutes * 60.0, static_cast<long long>(recording->FramesLeft),
                  static_cast<long long>(recording->FramesRight));
    line += text;
  }
  return line;
}

double SteadyNow_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
