#include "depth/depth_quality.h"

#include <algorithm>
#include <cmath>

#include "filters/ucalibfilter.h"

std::optional<double> PlaneRmsOf(const std::vector<cv::Vec3d>& points) {
  if (points.size() < 3) return std::nullopt;
  cv::Vec3d centroid(0, 0, 0);
  for (const cv::Vec3d& p : points) centroid += p;
  centroid *= 1.0 / static_cast<double>(points.size());
  cv::Matx33d scatter = cv::Matx33d::zeros();
  for (const cv::Vec3d& p : points) {
    const cv::Vec3d d = p - centroid;
    scatter += d * d.t();
  }
  // The plane's normal is the direction of least spread: the smallest
  // eigenvalue is the sum of the squared distances from that plane.
  cv::Matx31d eigenvalues;
  cv::Matx33d eigenvectors;
  cv::eigen(scatter, eigenvalues, eigenvectors);
  return std::sqrt(std::max(eigenvalues(2), 0.0) / static_cast<double>(points.size()));
}

std::optional<TDepthQuality> MeasureQuality(const TDepthSnapshot& snapshot, cv::Rect pixels,
                                            double true_distance) {
  if (!snapshot.Calibration || snapshot.Disparity16.empty()) return std::nullopt;
  pixels &= cv::Rect(0, 0, snapshot.Disparity16.cols, snapshot.Disparity16.rows);
  if (pixels.empty()) return std::nullopt;
  TDepthQuality quality;
  quality.Pixels = pixels;
  std::vector<cv::Vec3d> points;
  std::vector<double> depths;
  for (int y = pixels.y; y < pixels.y + pixels.height; ++y) {
    const int16_t* values = snapshot.Disparity16.ptr<int16_t>(y);
    for (int x = pixels.x; x < pixels.x + pixels.width; ++x) {
      if (!IsMatched(values[x], snapshot.MinDisparity) || values[x] <= 0) continue;
      const cv::Vec3d point =
          PointAt(*snapshot.Calibration, {double(x), double(y)}, values[x] / double(kDisparityFraction));
      if (!std::isfinite(point[2]) || point[2] <= 0) continue;
      points.push_back(point);
      depths.push_back(point[2]);
    }
  }
  quality.Points = static_cast<int>(points.size());
  quality.FillRate = static_cast<double>(points.size()) / static_cast<double>(pixels.area());
  if (points.empty()) return quality;
  double sum = 0;
  for (const double z : depths) sum += z;
  quality.MeanZ = sum / static_cast<double>(depths.size());
  const auto middle = depths.begin() + static_cast<std::ptrdiff_t>(depths.size() / 2);
  std::nth_element(depths.begin(), middle, depths.end());
  quality.MedianZ = *middle;
  quality.PlaneRms = PlaneRmsOf(points);
  if (true_distance > 0) quality.ZError = quality.MeanZ - true_distance;
  return quality;
}

std::string DescribeQuality(const TDepthQuality& q, const std::string& unit) {
  std::string text = FormatLine("Region %d x %d at (%d, %d): fill %.1f %%", q.Pixels.width, q.Pixels.height,
                                q.Pixels.x, q.Pixels.y, 100 * q.FillRate);
  if (q.Points == 0) return text + ", no valid depth";
  const char* u = unit.c_str();
  text += FormatLine(", Z mean %.1f median %.1f %s", q.MeanZ, q.MedianZ, u);
  if (q.PlaneRms) {
    text += FormatLine(", plane RMS %.2f %s (%.2f %% of Z)", *q.PlaneRms, u, 100 * *q.PlaneRms / q.MeanZ);
  }
  if (q.ZError) {
    const double truth = q.MeanZ - *q.ZError;
    text += FormatLine(", Z error %+.1f %s (%+.2f %%)", *q.ZError, u, 100 * *q.ZError / truth);
  }
  return text;
}
