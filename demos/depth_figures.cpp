#include "demos/depth_figures.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>

#include "depth/depth_quality.h"

namespace depth_figures {

MapFigures CompareWithTruth(const cv::Mat& disparity16, const cv::Mat& truth,
                            const TDisparitySettings& settings) {
  MapFigures figures;
  const cv::Range columns = MatchableColumns(settings, disparity16.cols);
  int matched = 0, bad = 0;
  for (int y = 0; y < disparity16.rows; ++y) {
    for (int x = columns.start; x < columns.end; ++x) {
      const float expected = truth.at<float>(y, x);
      if (!std::isfinite(expected)) continue;
      ++figures.PixelsWithTruth;
      const int16_t value = disparity16.at<int16_t>(y, x);
      if (!IsMatched(value, settings.MinDisparity)) continue;
      ++matched;
      if (std::abs(value / static_cast<double>(kDisparityFraction) - expected) > 2.0) ++bad;
    }
  }
  figures.Bad2 = matched > 0 ? static_cast<double>(bad) / matched : 1.0;
  figures.ValidShare =
      figures.PixelsWithTruth > 0 ? static_cast<double>(matched) / figures.PixelsWithTruth : 0;
  figures.Bad2All =
      figures.PixelsWithTruth > 0
          ? static_cast<double>(bad + figures.PixelsWithTruth - matched) / figures.PixelsWithTruth
          : 1.0;
  return figures;
}

double PlaneRms(const std::vector<cv::Vec3f>& points) {
  const std::optional<double> rms = PlaneRmsOf(std::vector<cv::Vec3d>(points.begin(), points.end()));
  return rms ? *rms : std::numeric_limits<double>::infinity();
}

std::vector<cv::Point2f> BoardCorners(const cv::Mat& image, cv::Size corners) {
  cv::Mat grey;
  if (image.channels() == 1) {
    grey = image;
  } else {
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  }
  std::vector<cv::Point2f> found;
  if (!cv::findChessboardCorners(grey, corners, found)) return {};
  cv::cornerSubPix(grey, found, {5, 5}, {-1, -1},
                   {cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 40, 0.001});
  return found;
}

std::optional<std::vector<cv::Vec3f>> ReadPly(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  size_t count = 0;
  bool binary = false;
  while (std::getline(in, line) && line != "end_header") {
    if (line == "format binary_little_endian 1.0") binary = true;
    if (line.rfind("element vertex ", 0) == 0) count = std::stoul(line.substr(15));
  }
  if (!binary || !in) return std::nullopt;
  constexpr size_t kVertexBytes = 3 * sizeof(float) + 3;
  std::vector<char> bytes(count * kVertexBytes);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  std::vector<cv::Vec3f> points(count);
  for (size_t i = 0; i < count; ++i) std::memcpy(points[i].val, &bytes[i * kVertexBytes], 3 * sizeof(float));
  return points;
}

std::optional<double> TrueDepthOf(const cv::Vec3d& point, const cv::Mat& depth_truth, const cv::Matx33d& k,
                                  const cv::Vec4d& d, const cv::Matx33d& rectification) {
  const cv::Vec3d in_camera = rectification.t() * point;
  std::vector<cv::Point2d> pixel;
  cv::projectPoints(std::vector<cv::Point3d>{cv::Point3d(in_camera)}, cv::Vec3d::all(0), cv::Vec3d::all(0), k,
                    d, pixel);
  const cv::Point at(static_cast<int>(std::lround(pixel[0].x)), static_cast<int>(std::lround(pixel[0].y)));
  if (!cv::Rect(0, 0, depth_truth.cols, depth_truth.rows).contains(at) || in_camera[2] <= 0)
    return std::nullopt;
  const float depth = depth_truth.at<float>(at);
  if (depth <= 0) return std::nullopt;
  const cv::Vec3d true_point = in_camera * (depth / in_camera[2]);
  return (rectification * true_point)[2];
}

std::vector<cv::Vec3f> BoardPoints(const std::vector<cv::Vec3f>& cloud, const cv::Vec3d& origin,
                                   const cv::Vec3d& across, const cv::Vec3d& down) {
  const cv::Vec3d u = cv::normalize(across), normal = cv::normalize(across.cross(down));
  const cv::Vec3d v = normal.cross(u);
  const double width = cv::norm(across), height = std::abs(down.dot(v));
  std::vector<cv::Vec3f> board;
  for (const cv::Vec3f& point : cloud) {
    const cv::Vec3d offset = cv::Vec3d(point) - origin;
    const double a = offset.dot(u), b = offset.dot(v);
    if (a > 0.1 * width && a < 0.9 * width && b > 0.1 * height && b < 0.9 * height &&
        std::abs(offset.dot(normal)) < 0.1 * width) {
      board.push_back(point);
    }
  }
  return board;
}

}  // namespace depth_figures
