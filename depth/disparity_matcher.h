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

// What is done to a map after matching, each step on or off.
struct TDisparityPostSettings {
  // A right-view map of its own, matched back to the left: a left pixel
  // whose partner there disagrees by more than the set pixels is no match.
  bool LeftRightCheck = false;
  int LeftRightMaxDiff_px = 1;
  // A pixel whose block shows less texture than this (mean step between
  // neighbours along the row, grey levels) is no match: its cost cannot be
  // clearly better than that of its neighbouring disparities.
  bool TextureCheck = false;
  int TextureThreshold = 1;
  // Holes filled and the map smoothed along the left image's edges (weighted
  // least squares); filled pixels are shown paler, or not at all.
  bool Fill = false;
  int FillLambda = 8000;
  double FillSigmaColor = 1.5;
  bool HideFilled = false;
  // Each pixel averaged over the last maps that agree with the newest one,
  // for a still rig; the history starts again when the left image changes
  // by more than the set mean grey step.
  bool Temporal = false;
  int TemporalMaps = 4;
  int SceneChange = 6;
  // Points nearer or farther than these are dropped (a calibration in mm).
  bool Range = false;
  int Near_mm = 300;
  int Far_mm = 10000;
  bool operator==(const TDisparityPostSettings&) const = default;
};

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
  TDisparityPostSettings Post;
  bool operator==(const TDisparitySettings&) const = default;
};

// True when both make the same raw map (what is done after may differ).
bool SameMatching(const TDisparitySettings& a, const TDisparitySettings& b);

// Matchers give disparities in sixteenths of a pixel.
inline constexpr int kDisparityFraction = 16;
// The most disparities a matcher searches.
inline constexpr int kMaxDisparities = 256;

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
