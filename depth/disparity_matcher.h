#pragma once

// Disparity of a rectified pair: the matcher an operator chooses with its
// settings, and the figures a map is judged by.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace cv {
class StereoMatcher;
}

enum class TMatcherKind { BlockMatching = 0, SemiGlobal = 1, SemiGlobal3Way = 2 };

struct TDisparitySettings {
  TMatcherKind Matcher = TMatcherKind::SemiGlobal;
  int NumDisparities = 64;
  int MinDisparity = 0;
  int BlockSize = 5;
  int UniquenessRatio = 10;
  int SpeckleWindowSize = 100;
  int SpeckleRange = 2;
  // Semi-global smoothness penalties; 0 follows the block size.
  int PenaltySmall = 0;
  int PenaltyLarge = 0;
  bool operator==(const TDisparitySettings&) const = default;
};

// Matchers give disparities in sixteenths of a pixel.
inline constexpr int kDisparityFraction = 16;

// Why the settings cannot run, or empty.
std::string DisparitySettingsProblem(const TDisparitySettings& settings);
// The penalties in force: typed ones, else 8 and 32 times the block's area.
int SmallPenalty(const TDisparitySettings& settings);
int LargePenalty(const TDisparitySettings& settings);

// True for a matched pixel of a map in sixteenths.
inline bool IsMatched(int16_t value, int min_disparity) {
  return value >= min_disparity * kDisparityFraction;
}

// Columns of the left image in which a disparity of the whole range can be
// found: left of them the right image has no partner for the largest ones.
cv::Range MatchableColumns(const TDisparitySettings& settings, int width);
// Share of matched pixels inside the matchable columns, 0 to 1.
double ValidShare(const cv::Mat& disparity16, const TDisparitySettings& settings);

// One matcher kept between maps and made again only when the settings change.
// The library runs its plain semi-global mode on one thread: that map is made
// in horizontal strips matched side by side, each with rows of the strips
// beside it as context that its paths cross before they reach its own rows.
class TDisparityMatcher {
 public:
  // Strips of a plain semi-global map; 0 for one a core.
  explicit TDisparityMatcher(int strips = 0) : strips_(strips) {}
  // Grey 8-bit images of one size into a CV_16S map in sixteenths; the
  // settings must have no problem.
  void Compute(const TDisparitySettings& settings, const cv::Mat& left, const cv::Mat& right,
               cv::Mat& disparity16);

 private:
  void ComputeInStrips(const cv::Mat& left, const cv::Mat& right, cv::Mat& disparity16);

  int strips_;
  // One matcher a strip, each with its own work buffers.
  std::vector<cv::Ptr<cv::StereoMatcher>> matchers_;
  std::vector<cv::Mat> strip_maps_;
  TDisparitySettings made_for_;
  bool made_ = false;
};
