#pragma once

// The figures a depth map is judged by against the simulated rig's truth:
// shared by the depth demo and the tests, so both judge alike.

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "filters/disparity_matcher.h"
#include "filters/stereo_calibration.h"

namespace depth_figures {

struct MapFigures {
  // Share of matched pixels with a truth whose disparity is more than 2 px
  // off it.
  double Bad2 = 0;
  // Share of pixels with a truth inside the matchable columns that matched.
  double ValidShare = 0;
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

// The depth truth (camera 1, mm) where a point of camera 1's frame is seen:
// its projection through the true model, the truth read there; none outside.
std::optional<double> TrueDepthOf(const cv::Vec3d& point, const cv::Mat& depth_truth, const cv::Matx33d& k,
                                  const cv::Vec4d& d);

}  // namespace depth_figures
