#pragma once

// Lens undistortion with the mapping kept between frames: the per-pixel
// source positions are worked out again only when the camera model or the
// frame size changes. Plain undistortion gives pixel for pixel what
// cv::undistort gives; a rectified one also turns the camera by a rotation
// and projects with a new camera matrix, as cv::initUndistortRectifyMap does.

#include <opencv2/core.hpp>

class TUndistortCache {
 public:
  // Undistorts src into dst (made at src's size and type) with the camera
  // matrix [fx 0 cx; 0 fy cy; 0 0 1] and k1, k2, p1, p2.
  void Apply(const cv::Mat& src, cv::Mat& dst, const cv::Matx33f& camera, const cv::Vec4f& distortion);
  // Undistorts src and rectifies it with the rotation and the projection's
  // left 3 x 3 part, as a stereo rectification gives them.
  void ApplyRectified(const cv::Mat& src, cv::Mat& dst, const cv::Matx33d& camera,
                      const cv::Vec4d& distortion, const cv::Matx33d& rotation,
                      const cv::Matx33d& projection);
  // How often the mapping was worked out; a frame that reuses it adds nothing.
  int Rebuilds() const { return rebuilds_; }

 private:
  struct Model {
    cv::Matx33d camera;
    cv::Vec4d distortion;
    cv::Matx33d rotation;
    cv::Matx33d projection;
    bool rectified = false;
    bool operator==(const Model& other) const;
  };
  void Remap(const cv::Mat& src, cv::Mat& dst, const Model& model);
  void Rebuild(cv::Size size, const Model& model);
  void BuildPlain(cv::Size size);

  cv::Size size_;
  Model model_;
  cv::Mat map_xy_;
  cv::Mat map_fraction_;
  int rebuilds_ = 0;
};
