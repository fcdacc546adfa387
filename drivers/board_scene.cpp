#include "drivers/board_scene.h"

#include <cmath>
#include <numbers>

#include "drivers/lens.h"

namespace sim {
namespace {

double Wave(double t, double period_s, double phase) {
  return std::sin(2.0 * std::numbers::pi * t / period_s + phase);
}

}  // namespace

BoardPose BoardPoseAt(double t) {
  // Incommensurate periods, so the poses keep varying.
  const cv::Vec3d tilt(0.38 * Wave(t, 6.3, 0.0), 0.42 * Wave(t, 8.9, 0.5), 0.25 * Wave(t, 13.7, 1.3));
  const cv::Vec3d centre(60.0 + 45.0 * Wave(t, 7.7, 1.0), 35.0 * Wave(t, 9.1, 2.0),
                         650.0 + 170.0 * Wave(t, 11.3, 0.3));
  return {RotationFromVector(tilt), centre};
}

cv::Vec3d BoardOrigin(const BoardPose& pose, double square_mm) {
  const cv::Vec3d pattern_centre((kSquaresX - 2) / 2.0 * square_mm, (kSquaresY - 2) / 2.0 * square_mm, 0.0);
  return pose.centre_mm - pose.rotation * pattern_centre;
}

cv::Matx33d RayToBoardHomography(const BoardPose& pose, const StereoSimCameraModel& camera,
                                 double square_mm) {
  const cv::Matx33d cam_rotation =
      RotationFromVector({camera.rotation[0], camera.rotation[1], camera.rotation[2]});
  const cv::Vec3d cam_translation(camera.translation[0], camera.translation[1], camera.translation[2]);
  const cv::Matx33d to_camera = cam_rotation * pose.rotation;
  const cv::Vec3d origin = cam_rotation * BoardOrigin(pose, square_mm) + cam_translation;
  // Columns: board x and y axes scaled to squares, then the board origin.
  const cv::Matx33d board_to_ray(to_camera(0, 0) * square_mm, to_camera(0, 1) * square_mm, origin[0],
                                 to_camera(1, 0) * square_mm, to_camera(1, 1) * square_mm, origin[1],
                                 to_camera(2, 0) * square_mm, to_camera(2, 1) * square_mm, origin[2]);
  return board_to_ray.inv();
}

cv::Point2d BoardPointInImage(const BoardPose& pose, const StereoSimCameraModel& camera, double square_mm,
                              cv::Point2d board_point, double* depth_mm) {
  const cv::Matx33d board_to_camera = RayToBoardHomography(pose, camera, square_mm).inv();
  const cv::Vec3d point = board_to_camera * cv::Vec3d(board_point.x, board_point.y, 1.0);
  if (depth_mm != nullptr) *depth_mm = point[2];
  const cv::Point2d seen =
      Distort({point[0] / point[2], point[1] / point[2]}, {camera.k1, camera.k2, camera.p1, camera.p2});
  return {seen.x * camera.fx + camera.cx, seen.y * camera.fy + camera.cy};
}

bool BoardWhollyInView(const BoardPose& pose, const StereoSimCameraModel& camera, double square_mm) {
  // Along the pattern's outer edge, half a square outside it: the white
  // around the outer squares that a search needs.
  constexpr int kSteps = 8;
  const double lo_u = -1.5, hi_u = kSquaresX - 0.5, lo_v = -1.5, hi_v = kSquaresY - 0.5;
  for (int i = 0; i <= kSteps; ++i) {
    const double f = static_cast<double>(i) / kSteps;
    for (const cv::Point2d board :
         {cv::Point2d(lo_u + f * (hi_u - lo_u), lo_v), cv::Point2d(lo_u + f * (hi_u - lo_u), hi_v),
          cv::Point2d(lo_u, lo_v + f * (hi_v - lo_v)), cv::Point2d(hi_u, lo_v + f * (hi_v - lo_v))}) {
      double depth = 0;
      const cv::Point2d seen = BoardPointInImage(pose, camera, square_mm, board, &depth);
      if (depth <= 0 || seen.x < 0 || seen.y < 0 || seen.x > camera.width - 1 || seen.y > camera.height - 1)
        return false;
    }
  }
  return true;
}

}  // namespace sim
