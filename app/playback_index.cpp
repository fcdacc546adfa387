#include "app/playback_index.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/avifiles.h"

namespace {

// Longest wait between two pairs played: a recording paused for minutes
// plays on after this.
constexpr double kLongestInterval_ms = 2000.0;
// A recording that tells no rate plays at the video rate.
constexpr double kUnknownRate = 25.0;

std::string Seconds(int64_t ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ns) / 1e9);
  return text;
}

std::string StampText(const TPairStamp& stamp, int64_t first_ns) {
  std::string text = "pair " + std::to_string(stamp.Pair);
  const uint64_t trigger = stamp.Sides[0].Trigger != 0 ? stamp.Sides[0].Trigger : stamp.Sides[1].Trigger;
  if (trigger != 0) text += ", trigger " + std::to_string(trigger);
  if (stamp.Time_ns != 0) text += ", " + Seconds(stamp.Time_ns - first_ns);
  return text;
}

}  // namespace

std::array<FrameStamp, 2> TPlaybackIndex::SidesOf(int pair) const {
  if (pair < 0 || pair >= static_cast<int>(Stamps.size())) return {};
  return Stamps[pair].Sides;
}

double TPlaybackIndex::Interval_ms(int pair) const {
  const double period = 1000.0 / (Rate > 0 ? Rate : kUnknownRate);
  if (pair < 0 || pair + 1 >= static_cast<int>(Stamps.size())) return period;
  const int64_t from = Stamps[pair].Time_ns;
  const int64_t to = Stamps[pair + 1].Time_ns;
  if (from == 0 || to <= from) return period;
  return std::min(static_cast<double>(to - from) / 1e6, kLongestInterval_ms);
}

std::string FrameLabel(const TPlaybackIndex& index) {
  const int shown = index.Shown();
  std::string label = "Frame " + std::to_string(shown + 1) + " of " + std::to_string(index.Count);
  if (shown >= 0 && shown < static_cast<int>(index.Stamps.size()))
    label += ": " + StampText(index.Stamps[shown], index.Stamps.front().Time_ns);
  return label;
}

std::string RecordedName(const std::string& pair_file) {
  const std::string left = ReaderPairNames(pair_file).Left;
  const size_t slash = left.find_last_of('/');
  const size_t dot = left.find_last_of('.');
  const size_t end =
      dot == std::string::npos || (slash != std::string::npos && dot < slash) ? left.size() : dot;
  // The reader's left name always has its "L" just before the extension.
  return left.substr(0, end - 1) + left.substr(end);
}

std::vector<TPairStamp> UsableStamps(const std::string& path, std::string& why) {
  why.clear();
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return {};
  std::optional<TStampFile> file = ReadStampFile(path);
  if (!file) {
    why = "Stamp file " + path + " can not be read; going on without stamps";
    return {};
  }
  if (!file->DamagedLines.empty()) {
    why = "Stamp file " + path + " is damaged (line " + std::to_string(file->DamagedLines.front()) +
          (file->DamagedLines.size() > 1 ? " and " + std::to_string(file->DamagedLines.size() - 1) + " more"
                                         : "") +
          "); going on without stamps";
    return {};
  }
  return std::move(file->Pairs);
}
