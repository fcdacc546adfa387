#pragma once

// The figures a depth map is judged by against the simulated rig's truth:
// shared by the depth demo and the tests, so both judge alike.

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "depth/disparity_matcher.h"
#include "filters/stereo_calibration.h"

namespace depth_figures {

struct MapFigures {
  // Share of matched pixels with a truth whose disparity is more than 2 px
  // off it.
  double Bad2 = 0;
  // Share of pixels with a truth inside the matchable columns that matched.
  double ValidShare = 0;
  // Share of all pixels with a truth that are no match or more than 2 px off.
  double Bad2All = 0;
  int PixelsWithTruth = 0;
};

// A map in sixteenths against a truth in pixels (NaN: seen by one camera
// only); only pixels inside the matchable columns count.
MapFigures CompareWithTruth(const cv::Mat& disparity16, const cv::Mat& truth,
                            const TDisparitySettings& settings);

// Root mean square distance of the points from the plane that fits them best.
double PlaneRms(const std::vector<cv::Vec3f>& points);

// The board's inner corners found in an image (refined); none when the
// whole board is not found.
std::vector<cv::Point2f> BoardCorners(const cv::Mat& image, cv::Size corners);

// The points of a binary little-endian PLY of float x y z and uchar colours;
// none when it is not such a file.
std::optional<std::vector<cv::Vec3f>> ReadPly(const std::string& path);

// The true depth (mm, along the rectified left camera's axis) of the scene
// point seen where a point of that frame is: the point turned back into
// camera 1 by the rectification's rotation, projected through the true model,
// moved along its ray to the depth truth read there; none outside.
std::optional<double> TrueDepthOf(const cv::Vec3d& point, const cv::Mat& depth_truth, const cv::Matx33d& k,
                                  const cv::Vec4d& d, const cv::Matx33d& rectification);

// The points of a cloud that lie on the board: inside the rectangle of the
// inner corners at origin, origin + across and origin + down (less a margin),
// and near the plane through them.
std::vector<cv::Vec3f> BoardPoints(const std::vector<cv::Vec3f>& cloud, const cv::Vec3d& origin,
                                   const cv::Vec3d& across, const cv::Vec3d& down);

}  // namespace depth_figures
