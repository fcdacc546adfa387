#include "app/pair_stamps.h"

#include <charconv>
#include <cmath>
#include <sstream>

const char* const kStampFileHeader =
    "pair,left_frame,left_trigger,left_time_ns,right_frame,right_trigger,right_time_ns,time_ns";

namespace {

constexpr int kFields = 8;

// The chosen name without its extension (from its last "."; a dot in a
// folder name does not count).
std::string Stem(const std::string& chosen) {
  const auto slash = chosen.find_last_of('/');
  const auto dot = chosen.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return chosen;
  return chosen.substr(0, dot);
}

template <typename T>
bool ParseField(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && ptr == end;
}

std::optional<TPairStamp> ParseLine(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  if (fields.size() != kFields) return std::nullopt;
  TPairStamp stamp;
  int64_t times[2] = {0, 0};
  bool ok = ParseField(fields[0], stamp.Pair) && ParseField(fields[7], stamp.Time_ns);
  for (int side = 0; side < 2; ++side) {
    ok = ok && ParseField(fields[1 + 3 * side], stamp.Sides[side].Number) &&
         ParseField(fields[2 + 3 * side], stamp.Sides[side].Trigger) &&
         ParseField(fields[3 + 3 * side], times[side]);
    stamp.Sides[side].Time_ms = static_cast<double>(times[side]) / 1e6;
  }
  if (!ok || stamp.Pair < 0) return std::nullopt;
  return stamp;
}

}  // namespace

std::string StampFileName(const std::string& chosen) { return Stem(chosen) + ".csv"; }

std::string CalibrationBesideName(const std::string& chosen) { return Stem(chosen) + ".yml"; }

int64_t TimeNs(double time_ms) {
  if (!std::isfinite(time_ms) || time_ms <= 0) return 0;
  return std::llround(time_ms * 1e6);
}

TPairStamp MakePairStamp(int64_t pair, const std::array<FrameStamp, 2>& sides) {
  TPairStamp stamp{pair, sides, 0};
  int64_t sum = 0;
  int known = 0;
  for (const FrameStamp& side : sides) {
    const int64_t ns = TimeNs(side.Time_ms);
    if (ns == 0) continue;
    sum += ns;
    ++known;
  }
  stamp.Time_ns = known == 0 ? 0 : sum / known;
  return stamp;
}

bool TStampWriter::Open(const std::string& path) {
  out_.open(path, std::ios::out | std::ios::trunc);
  lines_ = 0;
  if (!out_) return false;
  out_ << kStampFileHeader << '\n';
  out_.flush();
  return static_cast<bool>(out_);
}

bool TStampWriter::Write(const TPairStamp& stamp) {
  if (!out_.is_open()) return false;
  out_ << stamp.Pair;
  for (const FrameStamp& side : stamp.Sides) {
    out_ << ',' << side.Number << ',' << side.Trigger << ',' << TimeNs(side.Time_ms);
  }
  out_ << ',' << stamp.Time_ns << '\n';
  // Line by line: what was written before a crash stays on the disk.
  out_.flush();
  if (!out_) return false;
  ++lines_;
  return true;
}

void TStampWriter::Close() {
  if (out_.is_open()) out_.close();
}

std::optional<TStampFile> ReadStampFile(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line != kStampFileHeader) return std::nullopt;
  TStampFile file;
  for (int number = 2; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (auto stamp = ParseLine(line)) {
      file.Pairs.push_back(*stamp);
    } else {
      file.DamagedLines.push_back(number);
    }
  }
  return file;
}
