#include "drivers/lens.h"

#include <cmath>

namespace sim {

cv::Point2d Distort(cv::Point2d ideal, const Distortion& d) {
  const double x = ideal.x;
  const double y = ideal.y;
  const double r2 = x * x + y * y;
  const double radial = 1.0 + d.k1 * r2 + d.k2 * r2 * r2;
  return {x * radial + 2.0 * d.p1 * x * y + d.p2 * (r2 + 2.0 * x * x),
          y * radial + d.p1 * (r2 + 2.0 * y * y) + 2.0 * d.p2 * x * y};
}

cv::Point2d Undistort(cv::Point2d distorted, const Distortion& d) {
  constexpr int kMaxIterations = 40;
  constexpr double kTolerance = 1e-12;
  cv::Point2d ideal = distorted;
  for (int i = 0; i < kMaxIterations; ++i) {
    const cv::Point2d error = Distort(ideal, d) - distorted;
    ideal -= error;
    if (error.dot(error) < kTolerance * kTolerance) break;
  }
  return ideal;
}

cv::Matx33d RotationFromVector(const cv::Vec3d& rotation) {
  const double angle = cv::norm(rotation);
  if (angle < 1e-15) return cv::Matx33d::eye();
  const cv::Vec3d k = rotation / angle;
  const cv::Matx33d cross(0, -k[2], k[1], k[2], 0, -k[0], -k[1], k[0], 0);
  return cv::Matx33d::eye() + std::sin(angle) * cross + (1.0 - std::cos(angle)) * cross * cross;
}

}  // namespace sim
