#pragma once

// Lens undistortion with the mapping kept between frames: the per-pixel
// source positions are worked out again only when the camera model or the
// frame size changes, and the result is pixel for pixel that of
// cv::undistort.

#include <opencv2/core.hpp>

class TUndistortCache {
 public:
  // Undistorts src into dst (same size and type) with the camera matrix
  // [fx 0 cx; 0 fy cy; 0 0 1] and k1, k2, p1, p2.
  void Apply(const cv::Mat& src, cv::Mat& dst, const cv::Matx33f& camera, const cv::Vec4f& distortion);
  // How often the mapping was worked out; a frame that reuses it adds nothing.
  int Rebuilds() const { return rebuilds_; }

 private:
  void Rebuild(cv::Size size, const cv::Matx33f& camera, const cv::Vec4f& distortion);

  cv::Size size_;
  cv::Matx33f camera_;
  cv::Vec4f distortion_;
  cv::Mat map_xy_;
  cv::Mat map_fraction_;
  int rebuilds_ = 0;
};
