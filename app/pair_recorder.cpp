#include "app/pair_recorder.h"

#include <cstdio>

#include "app/avifiles.h"

bool TPairRecorder::Open(const std::string& stamp_path) {
  Close();
  path_ = stamp_path;
  written_ = 0;
  refused_ = 0;
  lost_ = 0;
  failed_ = 0;
  return stamps_.Open(stamp_path);
}

TPairRecorder::Outcome TPairRecorder::Write(TAviWriter& left_file, TAviWriter& right_file,
                                            const IplImage* left, const IplImage* right,
                                            const std::array<FrameStamp, 2>& stamps) {
  if (!left_file.Accepts(left) || !right_file.Accepts(right)) {
    ++refused_;
    return Outcome::Refused;
  }
  const int64_t pair = left_file.Frames();
  const bool left_written = left_file.Write(left);
  const bool right_written = right_file.Write(right);
  if (!left_written || !right_written) {
    ++failed_;
    return Outcome::WriteFailed;
  }
  ++written_;
  if (stamps_.Write(MakePairStamp(pair, stamps))) return Outcome::Written;
  ++lost_;
  return Outcome::StampLost;
}

bool TPairRecorder::Close() {
  if (!stamps_.IsOpen()) return false;
  stamps_.Close();
  if (written_ + refused_ + failed_ > 0) return true;
  std::remove(path_.c_str());
  return false;
}
