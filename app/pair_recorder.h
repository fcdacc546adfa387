#pragma once

// "Write Pairs": each pair taken from both sources goes into both AVI files
// at once, with one line of the stamp file, so that frame n of the left file,
// frame n of the right file and stamp line n are one moment.

#include <opencv2/core/types_c.h>

#include <array>
#include <cstdint>
#include <string>

#include "Video/vidclass/frame_stamp.h"
#include "app/pair_stamps.h"

class TAviWriter;

class TPairRecorder {
 public:
  enum class Outcome {
    Written,
    // A side the files cannot take (another size or channel count): the
    // pair went into neither file, so both keep the same frame count.
    Refused,
    // Both frames written, the stamp line not.
    StampLost,
    // The encoder of a file failed on its frame: the files' counts may differ.
    WriteFailed,
  };

  // False when the stamp file cannot be made.
  bool Open(const std::string& stamp_path);
  bool IsOpen() const { return stamps_.IsOpen(); }
  // The pair's number in its stamp line is its frame number in the left file.
  Outcome Write(TAviWriter& left_file, TAviWriter& right_file, const IplImage* left, const IplImage* right,
                const std::array<FrameStamp, 2>& stamps);
  // A stamp file no pair was offered to holds only its header and goes:
  // "Write Pairs" was not used with this recording. False then.
  bool Close();

  const std::string& StampPath() const { return path_; }
  int64_t PairsWritten() const { return written_; }
  int64_t PairsRefused() const { return refused_; }
  int64_t StampsLost() const { return lost_; }
  int64_t WritesFailed() const { return failed_; }

 private:
  TStampWriter stamps_;
  std::string path_;
  int64_t written_ = 0;
  int64_t refused_ = 0;
  int64_t lost_ = 0;
  int64_t failed_ = 0;
};
