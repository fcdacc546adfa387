#pragma once

// Both images of a pair undistorted and rectified with a stereo calibration's
// R1, R2, P1 and P2, so that a scene point lies on the same row in both. The
// maps are built once per calibration and frame size and kept.

#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "filters/stereo_calibration.h"
#include "filters/undistort_cache.h"

// Why the pair cannot be rectified with that calibration, or empty: the two
// images must agree in size and colour nature and match the calibration's
// image size.
std::string RectificationProblem(const TStereoCalibration& calibration, const cv::Mat& left,
                                 const cv::Mat& right);

// True when both give the same rectified pair and the same depth from it.
bool SameRectification(const TStereoCalibration& a, const TStereoCalibration& b);

class TStereoRectifier {
 public:
  // Rectifies both images into the outputs (made at the inputs' size and
  // type); false with the reason, outputs untouched, when it cannot.
  bool Rectify(const TStereoCalibration& calibration, const cv::Mat& left, const cv::Mat& right,
               cv::Mat& out_left, cv::Mat& out_right, std::string& why);
  // A copy of the calibration the last pair was rectified with, made anew
  // only when the calibration changes; none before the first.
  const std::shared_ptr<const TStereoCalibration>& RectifiedWith() const { return rectified_with_; }
  int Rebuilds() const { return left_.Rebuilds() + right_.Rebuilds(); }

 private:
  TUndistortCache left_;
  TUndistortCache right_;
  std::shared_ptr<const TStereoCalibration> rectified_with_;
};
