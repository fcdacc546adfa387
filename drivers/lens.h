#pragma once

#include <opencv2/core.hpp>

namespace sim {

// Lens distortion in OpenCV's model (radial k1, k2; tangential p1, p2).
struct Distortion {
  double k1 = 0, k2 = 0, p1 = 0, p2 = 0;
};

// Maps an ideal normalised image point to where the lens puts it.
cv::Point2d Distort(cv::Point2d ideal, const Distortion& d);

// Inverse of Distort by fixed-point iteration; converges for the moderate
// distortion of real lenses inside the field of view.
cv::Point2d Undistort(cv::Point2d distorted, const Distortion& d);

// Rotation matrix of a Rodrigues vector (axis times angle in radians).
cv::Matx33d RotationFromVector(const cv::Vec3d& rotation);

}  // namespace sim
