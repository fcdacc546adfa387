#pragma once

#include <opencv2/core.hpp>

#include "drivers/sim_driver_api.h"

namespace sim {

// The calibration target: 9 x 7 squares (8 x 6 inner corners) and a white
// margin of one square. Board coordinates are in squares with the origin at
// the first inner corner, so inner corners sit on whole numbers.
inline constexpr int kSquaresX = 9;
inline constexpr int kSquaresY = 7;
inline constexpr double kMarginSquares = 1.0;

// Board placement in camera 1 coordinates (mm): a point b of the board (in
// squares) lies at rotation * (b - pattern centre) * square + centre.
struct BoardPose {
  cv::Matx33d rotation;
  cv::Vec3d centre_mm;
};

// The board's path: smooth, never repeating exactly, 450 to 850 mm in front
// of the rig, tilted up to about 25 degrees, inside both fields of view.
BoardPose BoardPoseAt(double scene_time_s);

// Where the first inner corner of the board lies, in camera 1 coordinates (mm).
cv::Vec3d BoardOrigin(const BoardPose& pose, double square_mm);

// Homography from a normalised ray of the camera (x, y, 1) to homogeneous
// board coordinates in squares.
cv::Matx33d RayToBoardHomography(const BoardPose& pose, const StereoSimCameraModel& camera, double square_mm);

// Where a board point (in squares) appears in the camera's image, through
// its lens, and its depth in mm.
cv::Point2d BoardPointInImage(const BoardPose& pose, const StereoSimCameraModel& camera, double square_mm,
                              cv::Point2d board_point, double* depth_mm = nullptr);

// The pattern and a pixel around it inside the camera's image: a search can
// find the whole board.
bool BoardWhollyInView(const BoardPose& pose, const StereoSimCameraModel& camera, double square_mm);

}  // namespace sim
