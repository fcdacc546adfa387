#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

namespace sim {

struct FrameRequest;

// Recorded image pairs from a folder instead of the rendered scene. A pair is
// two image files whose names differ only by "L" and "R" before the
// extension (shotL.png, shotR.png); odd camera ids show the L images, even
// ones the R images. Pairs are sorted by name and shown in turn at a fixed
// rate of scene time, so cameras triggered together show the same pair.
class ReplaySource {
 public:
  ReplaySource(const std::string& folder, uint32_t camera_id, double frames_per_second);

  size_t FrameCount() const { return files_.size(); }

  // Writes the pair image due at the request's scene time, converted to its
  // format and size; false when the file cannot be read.
  bool Copy(const FrameRequest& request);

 private:
  std::vector<std::string> files_;
  double frames_per_second_;
  size_t cached_index_ = static_cast<size_t>(-1);
  cv::Mat cached_;
};

// File names of one side of the pairs in a folder, sorted; side is 'L' or 'R'.
std::vector<std::string> ListPairSide(const std::string& folder, char side);

}  // namespace sim
