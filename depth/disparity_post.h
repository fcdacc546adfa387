#pragma once

// What is done to a disparity map after matching: doubtful matches removed
// (a right-view map matched back, too little texture), maps averaged over
// time for a still rig, holes filled along the left image's edges, and points
// outside a depth range dropped. Each step is a function of its own; one
// object runs the steps in force on the matcher's thread.

#include <deque>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "depth/disparity_matcher.h"
#include "filters/stereo_calibration.h"

namespace cv {
class StereoMatcher;
}

// The value of "no match" in a map in sixteenths, as the matchers write it.
inline int16_t NoMatch(int min_disparity) {
  return static_cast<int16_t>((min_disparity - 1) * kDisparityFraction);
}

// A map of the right view at half the size (CV_16S, sixteenths of a pixel
// of the whole image): for each right pixel the disparity d of its partner
// at x + d in the left image. Block matching on the mirrored pair; no
// verdict (no match) where the right image is plain or the best match is not
// clearly the best. Made again only when the range changes.
class TRightViewMatcher {
 public:
  void Compute(const TDisparitySettings& settings, const cv::Mat& left_grey, const cv::Mat& right_grey,
               cv::Mat& right16);

 private:
  cv::Ptr<cv::StereoMatcher> matcher_;
  TDisparitySettings made_for_;
  cv::Mat small_left_, small_right_, mirrored_left_, mirrored_right_, mirrored_map_;
};

// Left pixels whose partner in the right-view map is matched and disagrees by
// more than max_diff_px become no match; the number dropped. A right view of
// half the size is allowed a pixel more.
int DropRightDisagreement(cv::Mat& disparity16, const cv::Mat& right16, int min_disparity, int max_diff_px);

// Mean step between row neighbours (grey levels) over the block around each
// pixel of a grey image (CV_32F).
cv::Mat RowTexture(const cv::Mat& grey, int block);
// Pixels whose block's texture lies below the threshold become no match; the
// number dropped.
int DropTextureless(cv::Mat& disparity16, const cv::Mat& left_grey, int block, int threshold,
                    int min_disparity);

// Pixels within reach_px of a jump of more than step_px between neighbours
// (along rows and columns) become no match: their blocks see two surfaces,
// so their cost is no clearer than that of the neighbouring disparities. The
// number dropped.
int DropBesideJumps(cv::Mat& disparity16, int min_disparity, int step_px, int reach_px);

// Fills the holes of the map inside the columns along the guide's edges:
// OpenCV's weighted least squares (fast global smoother) over the matched
// values, weighted by a confidence of 1 where matched and 0 where not. A hole
// of a run between matches of two surfaces (more than 2 px apart) takes the
// value of the surface the smoothed estimate lies nearer, never a depth in
// between; within one surface it stays within a pixel of the run's ends. A
// match moves to its smoothed value only within a pixel of its own. `filled` (CV_8U) marks the
// pixels that were no match and got a value; the number filled.
int FillAlongEdges(cv::Mat& disparity16, const cv::Mat& guide, cv::Range columns, int lambda,
                   double sigma_color, int min_disparity, cv::Mat& filled);

// The last maps of a still rig. Each matched pixel of the newest map becomes
// the mean of the values of the kept maps within a pixel of it; a pixel the
// newest map has no match for stays so.
class TTemporalSmoother {
 public:
  // Smooths the newest map and keeps it; the history starts again first when
  // the image, the settings or the size changed. True when it started again.
  bool Apply(cv::Mat& disparity16, const cv::Mat& left_grey, const TDisparitySettings& settings);
  void Reset() { maps_.clear(); }
  size_t MapsKept() const { return maps_.size(); }

 private:
  std::deque<cv::Mat> maps_;
  cv::Mat last_left_;
  TDisparitySettings settings_;
};

// Mean absolute grey difference of two images of one size.
double MeanGreyChange(const cv::Mat& a, const cv::Mat& b);

// Pixels whose depth lies outside near ... far (mm) become no match; the
// number dropped. The calibration must be in mm.
int DropOutsideRange(cv::Mat& disparity16, const TStereoCalibration& calibration, int min_disparity,
                     int near_mm, int far_mm);

// What one step took.
struct TPostStageTime {
  std::string Stage;
  double Time_ms = 0;
};

// The steps in force, in order: left-right check, texture threshold,
// smoothing over time, filling, range.
class TDisparityPost {
 public:
  // Keeps the heap's freed blocks for the next map (depth::ReuseFreedMemory).
  TDisparityPost();

  // What the steps need of the pair alone (the right view's map, for the
  // left-right check), made before Apply, on another thread while the map
  // is matched. Apply of the same pair and settings uses it once.
  void PrepareFromPair(const TDisparitySettings& settings, const cv::Mat& left_grey,
                       const cv::Mat& right_grey);

  // `left` is the rectified left image as the chain had it (the filling's
  // guide); `calibration` may be null. `filled` gets the filled pixels;
  // `note` says why a step could not run, or stays empty.
  void Apply(const TDisparitySettings& settings, const cv::Mat& left_grey, const cv::Mat& right_grey,
             const cv::Mat& left, const TStereoCalibration* calibration, cv::Mat& disparity16,
             cv::Mat& filled, std::vector<TPostStageTime>& times, std::string& note);

 private:
  TRightViewMatcher right_view_;
  cv::Mat right16_;
  // True while right16_ is the prepared map of the pair Apply is given.
  bool right_view_prepared_ = false;
  TTemporalSmoother history_;
};
