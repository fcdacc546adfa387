#pragma once

// The stamp file of a recorded pair: "<stem>.csv" beside "<stem>L.avi" and
// "<stem>R.avi", one line per written pair, flushed line by line so that a
// crash keeps every pair written before it.
//
//   pair,left_frame,left_trigger,left_time_ns,right_frame,right_trigger,right_time_ns,time_ns
//
// Times are the host's steady clock (the frames' time of arrival) in
// nanoseconds; the pair's time is the mean of its sides' known times, the one
// time both files of a pair are exported under.

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "Video/vidclass/frame_stamp.h"

struct TPairStamp {
  int64_t Pair = 0;
  std::array<FrameStamp, 2> Sides{};
  int64_t Time_ns = 0;
  bool operator==(const TPairStamp&) const = default;
};

extern const char* const kStampFileHeader;

// "<stem>.csv" of the name chosen for a recording ("run.avi" -> "run.csv").
std::string StampFileName(const std::string& chosen);
// "<stem>.yml": the calibration in force beside a recording.
std::string CalibrationBesideName(const std::string& chosen);

// The stamp of pair number `pair` from its sides' stamps.
TPairStamp MakePairStamp(int64_t pair, const std::array<FrameStamp, 2>& sides);
// Nanoseconds of a stamp's millisecond time.
int64_t TimeNs(double time_ms);

class TStampWriter {
 public:
  // False when the file can not be made.
  bool Open(const std::string& path);
  // False when the line could not be written (disk full, file gone).
  bool Write(const TPairStamp& stamp);
  void Close();
  bool IsOpen() const { return out_.is_open(); }
  int64_t Lines() const { return lines_; }

 private:
  std::ofstream out_;
  int64_t lines_ = 0;
};

struct TStampFile {
  std::vector<TPairStamp> Pairs;
  // Lines that could not be read, named by number, for one log line.
  std::vector<int> DamagedLines;
};

// The stamps of a file; nothing when it can not be opened or is not a stamp
// file (its first line is not the header). Damaged lines are skipped and
// counted, the others kept.
std::optional<TStampFile> ReadStampFile(const std::string& path);
