#include "drivers/depth_truth.h"

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "drivers/depth_scene.h"
#include "drivers/lens.h"

namespace sim {
namespace {

// A point of the scene nearer to camera 2 than this along its line of sight
// hides the point camera 1 sees.
constexpr double kOcclusionTolerance_mm = 1.0;

// One camera of the rig at one image size, with its place in camera 1 coordinates.
class TrueCamera {
 public:
  TrueCamera(const SimConfig& config, uint32_t camera_id, int width, int height)
      : model_(ModelForImage(config.cameras.at(camera_id - 1), width, height)),
        lens_{model_.k1, model_.k2, model_.p1, model_.p2},
        rotation_(RotationFromVector({model_.rotation[0], model_.rotation[1], model_.rotation[2]})),
        translation_(model_.translation),
        centre_(-(rotation_.t() * translation_)) {}

  // Normalised ray (x, y, 1) in this camera through a pixel of its image.
  cv::Vec3d Ray(double u, double v) const {
    const cv::Point2d ideal = Undistort({(u - model_.cx) / model_.fx, (v - model_.cy) / model_.fy}, lens_);
    return {ideal.x, ideal.y, 1.0};
  }
  bool Contains(double u, double v) const {
    return u >= -0.5 && v >= -0.5 && u <= model_.width - 0.5 && v <= model_.height - 0.5;
  }
  const cv::Vec3d& Centre() const { return centre_; }
  cv::Vec3d ToRig(const cv::Vec3d& direction) const { return rotation_.t() * direction; }
  cv::Vec3d FromRig(const cv::Vec3d& point) const { return rotation_ * point + translation_; }
  cv::Point2d Project(const cv::Vec3d& in_camera) const {
    const cv::Point2d seen = Distort({in_camera[0] / in_camera[2], in_camera[1] / in_camera[2]}, lens_);
    return {seen.x * model_.fx + model_.cx, seen.y * model_.fy + model_.cy};
  }

 private:
  StereoSimCameraModel model_;
  Distortion lens_;
  cv::Matx33d rotation_;
  cv::Vec3d translation_;
  cv::Vec3d centre_;
};

Distortion LensOf(const Rectification& side) {
  return {side.distortion[0], side.distortion[1], side.distortion[2], side.distortion[3]};
}

// Where a pixel of the rectified image comes from in the camera's own image,
// as OpenCV's initUndistortRectifyMap computes it.
cv::Point2d UnrectifiedPixel(const Rectification& side, double u, double v) {
  const cv::Matx33d back = (side.projection.get_minor<3, 3>(0, 0) * side.rotation).inv();
  const cv::Vec3d ray = back * cv::Vec3d(u, v, 1.0);
  const cv::Point2d seen = Distort({ray[0] / ray[2], ray[1] / ray[2]}, LensOf(side));
  const cv::Matx33d& k = side.camera_matrix;
  return {seen.x * k(0, 0) + k(0, 2), seen.y * k(1, 1) + k(1, 2)};
}

// Where a pixel of the camera's own image lands in its rectified image, as
// OpenCV's undistortPoints with R and P computes it.
cv::Point2d RectifiedPixel(const Rectification& side, const cv::Point2d& pixel) {
  const cv::Matx33d& k = side.camera_matrix;
  const cv::Point2d ideal =
      Undistort({(pixel.x - k(0, 2)) / k(0, 0), (pixel.y - k(1, 2)) / k(1, 1)}, LensOf(side));
  const cv::Vec3d placed =
      side.projection.get_minor<3, 3>(0, 0) * (side.rotation * cv::Vec3d(ideal.x, ideal.y, 1.0));
  return {placed[0] / placed[2], placed[1] / placed[2]};
}

// Disparity of one rectified left pixel, or nothing.
std::optional<double> DisparityAt(const std::vector<ScenePlane>& surfaces, const TrueCamera& left,
                                  const TrueCamera& right, const Rectification& left_side,
                                  const Rectification& right_side, int u, int v) {
  const cv::Point2d seen_left = UnrectifiedPixel(left_side, u, v);
  if (!left.Contains(seen_left.x, seen_left.y)) return std::nullopt;
  const cv::Vec3d ray = left.ToRig(left.Ray(seen_left.x, seen_left.y));
  const std::optional<double> hit = FirstHit(surfaces, left.Centre(), ray);
  if (!hit) return std::nullopt;
  const cv::Vec3d point = left.Centre() + *hit * ray;
  const cv::Vec3d in_right = right.FromRig(point);
  if (in_right[2] <= 0.0) return std::nullopt;
  const cv::Vec3d sight = point - right.Centre();
  const std::optional<double> first = FirstHit(surfaces, right.Centre(), sight);
  if (first && (1.0 - *first) * cv::norm(sight) > kOcclusionTolerance_mm) return std::nullopt;
  const cv::Point2d seen_right = right.Project(in_right);
  if (!right.Contains(seen_right.x, seen_right.y)) return std::nullopt;
  // Both images are cut to the same frame when rectified.
  const cv::Point2d rectified = RectifiedPixel(right_side, seen_right);
  if (!right.Contains(rectified.x, rectified.y)) return std::nullopt;
  return u - rectified.x;
}

}  // namespace

bool DepthTruth(const SimConfig& config, uint32_t camera_id, int width, int height, double scene_time_s,
                float* depth_mm) {
  const std::vector<ScenePlane> surfaces = SceneSurfacesAt(config.source, scene_time_s, config.square_mm);
  if (surfaces.empty()) return false;
  const TrueCamera camera(config, camera_id, width, height);
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u) {
      // Rays are (x, y, 1) in the camera, so the distance along one is its depth.
      const std::optional<double> hit = FirstHit(surfaces, camera.Centre(), camera.ToRig(camera.Ray(u, v)));
      depth_mm[static_cast<size_t>(v) * width + u] = hit ? static_cast<float>(*hit) : 0.0f;
    }
  }
  return true;
}

bool RectifiedDisparityTruth(const SimConfig& config, int width, int height, const Rectification& left,
                             const Rectification& right, double scene_time_s, float* disparity) {
  const std::vector<ScenePlane> surfaces = SceneSurfacesAt(config.source, scene_time_s, config.square_mm);
  if (surfaces.empty() || config.cameras.size() < 2) return false;
  const TrueCamera camera1(config, 1, width, height);
  const TrueCamera camera2(config, 2, width, height);
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u) {
      const std::optional<double> d = DisparityAt(surfaces, camera1, camera2, left, right, u, v);
      disparity[static_cast<size_t>(v) * width + u] =
          d ? static_cast<float>(*d) : std::numeric_limits<float>::quiet_NaN();
    }
  }
  return true;
}

}  // namespace sim
