#pragma once

// From a disparity map of a rectified pair to the scene: points, distances,
// depth images, point clouds and the files that keep them.

#include <cstdio>
#include <functional>
#include <memory>
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
  std::shared_ptr<const TStereoCalibration> Calibration;
};

// Half the side of the window whose valid disparities a click takes.
inline constexpr int kProbeRadius = 2;

// Median of the matched disparities (pixels) in the 5 x 5 window around the
// pixel; none when none is matched or the pixel lies outside the map.
std::optional<double> DisparityAt(const cv::Mat& disparity16, int min_disparity, cv::Point pixel);

// Points, depths and clouds are in the rectified left camera's frame, the one
// P1 projects and Q back-projects: x right, y down, z along its axis, so
// that a depth lies on the rectified pixel grid it was measured on.

// The scene point seen at a pixel of the rectified left image with that
// disparity, in the calibration's unit.
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

// Every matched pixel's point (CV_32FC3), NaN where none.
cv::Mat PointsOf(const cv::Mat& disparity16, int min_disparity, const TStereoCalibration& calibration);

// 16-bit disparity as the public stereo benchmarks keep it: disparity x 256,
// 0 for no match. It holds disparities above 0 up to 255.99 px; a matched
// pixel below 0 or above is written as no match and counted in `unfit`.
cv::Mat BenchmarkDisparity(const cv::Mat& disparity16, int min_disparity, int* unfit = nullptr);
// 16-bit depth (z) in mm, 0 for none.
cv::Mat DepthImage(const cv::Mat& points);
// Binary little-endian PLY of the valid points (float x y z in mm, uchar
// red green blue from the left image).
std::string PointCloudPly(const cv::Mat& points, const cv::Mat& left);

// How a file is put in place of another: 0 on success, as std::rename.
using TRenameFile = std::function<int(const char* from, const char* to)>;

// Writes <stem>_disparity.png, <stem>_left.png and, with a calibration in mm,
// <stem>_depth.png and <stem>.ply, all or none: every file is written under a
// temporary name first, and the old files are kept aside until all new ones
// are in place. False with the reason; `unfit` counts the matched pixels the
// disparity file cannot hold.
bool SaveDepthFiles(const std::string& stem, const TDepthSnapshot& snapshot, std::string& why, int& unfit,
                    const TRenameFile& rename = std::rename);
