#pragma once

#include <cstdint>
#include <opencv2/core.hpp>

#include "drivers/sim_config.h"

namespace sim {

// One side of a stereo rectification as OpenCV's stereoRectify gives it:
// camera matrix, distortion (k1, k2, p1, p2), rectifying rotation, projection.
struct Rectification {
  cv::Matx33d camera_matrix;
  cv::Vec4d distortion;
  cv::Matx33d rotation;
  cv::Matx34d projection;
};

// Depth (mm) along camera `camera_id`'s optical axis of each pixel of an image
// of width x height, row by row; 0 where the pixel sees nothing. False when
// the source has no known geometry (replayed pairs).
bool DepthTruth(const SimConfig& config, uint32_t camera_id, int width, int height, double scene_time_s,
                float* depth_mm);

// Disparity of each pixel of the rectified left image of cameras 1 and 2: the
// scene point camera 1 sees there, through the rig's true geometry, taken to
// the rectified right image. NaN where camera 1 sees nothing there, or camera 2
// cannot see that point (hidden or outside its image). False as DepthTruth.
bool RectifiedDisparityTruth(const SimConfig& config, int width, int height, const Rectification& left,
                             const Rectification& right, double scene_time_s, float* disparity);

}  // namespace sim
