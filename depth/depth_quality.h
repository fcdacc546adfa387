#pragma once

// How good the depth is over a rectangle of the map: what a rig owner checks
// before trusting a rig. Held up to a flat target (a wall, a board), the
// plane's RMS tells the depth noise; with the target's true distance typed,
// the error of Z tells the bias.

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "depth/depth_measure.h"
#include "depth/disparity_matcher.h"

struct TDepthQuality {
  cv::Rect Pixels;
  // Share of the rectangle's pixels with a valid depth, 0 to 1.
  double FillRate = 0;
  int Points = 0;
  // Of the points with a depth, in the calibration's unit.
  double MeanZ = 0;
  double MedianZ = 0;
  // RMS distance of the points from the plane fitted to them; none with
  // fewer than three points.
  std::optional<double> PlaneRms;
  // Mean Z less the true distance, when one is given.
  std::optional<double> ZError;
};

// Root mean square distance of points from the plane that fits them best
// (least squares, through their centroid); none below three points.
std::optional<double> PlaneRmsOf(const std::vector<cv::Vec3d>& points);

// The figures of the rectangle (clipped to the map) of a calibrated map;
// none without a calibration or when nothing of the rectangle lies on the
// map. A true distance of 0 or less is none.
std::optional<TDepthQuality> MeasureQuality(const TDepthSnapshot& snapshot, cv::Rect pixels,
                                            double true_distance = 0);

// One line of the figures, e.g. "Region 120 x 80 at (10, 20): fill 97.5 %,
// Z mean 1998.2 median 1998.0 mm, plane RMS 1.9 mm (0.10 % of Z), Z error
// -1.8 mm (-0.09 %)".
std::string DescribeQuality(const TDepthQuality& quality, const std::string& unit);
