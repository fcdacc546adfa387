#pragma once

// From a disparity map of a rectified pair to the scene: points, distances,
// depth images, point clouds and the files that keep them.

#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "filters/stereo_calibration.h"

// What one depth snapshot holds: the map, the rectified left image it belongs
// to, and the calibration it was rectified with (none: taken as rectified).
struct TDepthSnapshot {
  cv::Mat Disparity16;
  int MinDisparity = 0;
  cv::Mat Left;
  std::optional<TStereoCalibration> Calibration;
};

// Half the side of the window whose valid disparities a click takes.
inline constexpr int kProbeRadius = 2;

// Median of the matched disparities (pixels) in the 5 x 5 window around the
// pixel; none when none is matched or the pixel lies outside the map.
std::optional<double> DisparityAt(const cv::Mat& disparity16, int min_disparity, cv::Point pixel);

// The scene point seen at a pixel of the rectified left image with that
// disparity, in the left camera's own frame, in the calibration's unit.
cv::Vec3d PointAt(const TStereoCalibration& calibration, cv::Point2d pixel, double disparity);

// What a click on the map tells: the pixel, its disparity and, with a
// calibration, its scene point.
struct TProbe {
  cv::Point Pixel;
  std::optional<double> Disparity;
  std::optional<cv::Vec3d> Point;
};
TProbe ProbeAt(const TDepthSnapshot& snapshot, cv::Point pixel);
// The status line of one probe, and of the distance between two.
std::string DescribeProbe(const TProbe& probe, const TDepthSnapshot& snapshot);
std::string DescribeDistance(const TProbe& first, const TProbe& second, const TDepthSnapshot& snapshot);

// Every matched pixel's point in the left camera's frame (CV_32FC3), NaN where
// none.
cv::Mat PointsOf(const cv::Mat& disparity16, int min_disparity, const TStereoCalibration& calibration);

// 16-bit disparity as the public stereo benchmarks keep it: disparity x 256,
// 0 for no match.
cv::Mat BenchmarkDisparity(const cv::Mat& disparity16, int min_disparity);
// 16-bit depth in mm along the left camera's axis, 0 for none.
cv::Mat DepthImage(const cv::Mat& points);
// Binary little-endian PLY of the valid points (float x y z in mm, uchar
// red green blue from the left image).
std::string PointCloudPly(const cv::Mat& points, const cv::Mat& left);

// Writes <stem>_disparity.png, <stem>_left.png and, with a calibration in mm,
// <stem>_depth.png and <stem>.ply. Every file is written under a temporary
// name first and renamed once all are written: a failure leaves none of
// them. False with the reason.
bool SaveDepthFiles(const std::string& stem, const TDepthSnapshot& snapshot, std::string& why);
