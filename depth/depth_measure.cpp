#include "depth/depth_measure.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <utility>
#include <vector>

#include "depth/disparity_matcher.h"
#include "filters/ucalibfilter.h"

std::optional<double> DisparityAt(const cv::Mat& disparity16, int min_disparity, cv::Point pixel) {
  const cv::Rect map(0, 0, disparity16.cols, disparity16.rows);
  if (!map.contains(pixel)) return std::nullopt;
  const cv::Rect window =
      cv::Rect(pixel.x - kProbeRadius, pixel.y - kProbeRadius, 2 * kProbeRadius + 1, 2 * kProbeRadius + 1) &
      map;
  std::vector<int16_t> matched;
  for (int y = window.y; y < window.br().y; ++y) {
    for (int x = window.x; x < window.br().x; ++x) {
      const int16_t value = disparity16.at<int16_t>(y, x);
      if (IsMatched(value, min_disparity)) matched.push_back(value);
    }
  }
  if (matched.empty()) return std::nullopt;
  const auto middle = matched.begin() + static_cast<std::ptrdiff_t>(matched.size() / 2);
  std::nth_element(matched.begin(), middle, matched.end());
  double median = *middle;
  if (matched.size() % 2 == 0) median = (median + *std::max_element(matched.begin(), middle)) / 2;
  return median / kDisparityFraction;
}

cv::Vec3d PointAt(const TStereoCalibration& calibration, cv::Point2d pixel, double disparity) {
  const cv::Vec4d h = calibration.Q * cv::Vec4d(pixel.x, pixel.y, disparity, 1.0);
  return {h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

TProbe ProbeAt(const TDepthSnapshot& snapshot, cv::Point pixel) {
  TProbe probe{pixel, DisparityAt(snapshot.Disparity16, snapshot.MinDisparity, pixel), std::nullopt};
  if (probe.Disparity && *probe.Disparity > 0 && snapshot.Calibration) {
    probe.Point = PointAt(*snapshot.Calibration, pixel, *probe.Disparity);
  }
  return probe;
}

std::string DescribeProbe(const TProbe& probe, const TDepthSnapshot& snapshot) {
  const cv::Rect map(0, 0, snapshot.Disparity16.cols, snapshot.Disparity16.rows);
  if (!map.contains(probe.Pixel)) return "Outside the image";
  const std::string at = FormatLine("(%d, %d): ", probe.Pixel.x, probe.Pixel.y);
  if (!probe.Disparity) return at + "no valid disparity here";
  if (!probe.Point) return at + FormatLine("disparity %.2f px", *probe.Disparity);
  const cv::Vec3d& p = *probe.Point;
  return at + FormatLine("X %.1f Y %.1f Z %.1f %s (disparity %.2f px)", p[0], p[1], p[2],
                         LengthUnit(*snapshot.Calibration), *probe.Disparity);
}

std::string DescribeDistance(const TProbe& first, const TProbe& second, const TDepthSnapshot& snapshot) {
  if (!first.Point || !second.Point) return DescribeProbe(second, snapshot);
  return FormatLine("Distance %.1f %s", cv::norm(*first.Point - *second.Point),
                    LengthUnit(*snapshot.Calibration));
}

cv::Mat PointsOf(const cv::Mat& disparity16, int min_disparity, const TStereoCalibration& calibration) {
  cv::Mat disparity;
  disparity16.convertTo(disparity, CV_32F, 1.0 / kDisparityFraction);
  cv::Mat points;
  cv::reprojectImageTo3D(disparity, points, calibration.Q, false, CV_32F);
  const float none = std::numeric_limits<float>::quiet_NaN();
  for (int y = 0; y < points.rows; ++y) {
    const int16_t* values = disparity16.ptr<int16_t>(y);
    auto* row = points.ptr<cv::Vec3f>(y);
    for (int x = 0; x < points.cols; ++x) {
      if (!IsMatched(values[x], min_disparity) || values[x] <= 0) row[x] = cv::Vec3f(none, none, none);
    }
  }
  return points;
}

cv::Mat BenchmarkDisparity(const cv::Mat& disparity16, int min_disparity, int* unfit) {
  // Sixteenths to 256ths in 16 bits, 0 kept for "no match".
  constexpr int kLargest = std::numeric_limits<uint16_t>::max() / 16;
  cv::Mat out(disparity16.size(), CV_16U, cv::Scalar(0));
  int outside = 0;
  for (int y = 0; y < out.rows; ++y) {
    const int16_t* values = disparity16.ptr<int16_t>(y);
    auto* row = out.ptr<uint16_t>(y);
    for (int x = 0; x < out.cols; ++x) {
      if (!IsMatched(values[x], min_disparity)) continue;
      // A disparity of 0 (a point at infinity) is "no match" by the format.
      if (values[x] > 0 && values[x] <= kLargest) {
        row[x] = static_cast<uint16_t>(values[x] * 16);
      } else if (values[x] != 0) {
        ++outside;
      }
    }
  }
  if (unfit != nullptr) *unfit = outside;
  return out;
}

cv::Mat DepthImage(const cv::Mat& points) {
  cv::Mat out(points.size(), CV_16U, cv::Scalar(0));
  for (int y = 0; y < out.rows; ++y) {
    const auto* row = points.ptr<cv::Vec3f>(y);
    auto* depth = out.ptr<uint16_t>(y);
    for (int x = 0; x < out.cols; ++x) {
      const float z = row[x][2];
      if (std::isfinite(z) && z > 0.5f && z < 65535.0f) depth[x] = static_cast<uint16_t>(std::lround(z));
    }
  }
  return out;
}

namespace {

template <class Value>
void Append(std::string& bytes, Value value) {
  static_assert(std::endian::native == std::endian::little, "PLY is written little-endian");
  bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

cv::Vec3b ColourAt(const cv::Mat& left, int x, int y) {
  if (left.channels() == 1) {
    const uint8_t grey = left.at<uint8_t>(y, x);
    return {grey, grey, grey};
  }
  return left.at<cv::Vec3b>(y, x);
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::string Png(const cv::Mat& image) {
  std::vector<uchar> bytes;
  cv::imencode(".png", image, bytes);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

std::string PointCloudPly(const cv::Mat& points, const cv::Mat& left) {
  std::string body;
  size_t count = 0;
  for (int y = 0; y < points.rows; ++y) {
    const auto* row = points.ptr<cv::Vec3f>(y);
    for (int x = 0; x < points.cols; ++x) {
      if (!std::isfinite(row[x][2])) continue;
      for (int axis = 0; axis < 3; ++axis) Append(body, row[x][axis]);
      const cv::Vec3b bgr = ColourAt(left, x, y);
      for (const int channel : {2, 1, 0}) Append(body, bgr[channel]);
      ++count;
    }
  }
  const std::string header =
      "ply\nformat binary_little_endian 1.0\ncomment stereo workbench, mm\n"
      "comment frame: rectified left camera (P1), x right, y down, z along its axis\nelement vertex " +
      std::to_string(count) +
      "\nproperty float x\nproperty float y\nproperty float z\n"
      "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
  return header + body;
}

namespace {

std::string BackupOf(const std::string& path) { return path + ".backup"; }
std::string PartOf(const std::string& path) { return path + ".part"; }

// Puts every written part in its file's place, keeping what was there under a
// backup name until all are in place: a failure on the way puts every old file
// back and leaves no new one.
bool PlaceParts(const std::vector<std::string>& paths, const TRenameFile& rename) {
  struct Placed {
    std::string path;
    bool had_old;
  };
  std::vector<Placed> placed;
  const auto undo = [&] {
    for (auto step = placed.rbegin(); step != placed.rend(); ++step) {
      if (step->had_old) {
        rename(BackupOf(step->path).c_str(), step->path.c_str());
      } else {
        std::remove(step->path.c_str());
      }
    }
  };
  for (const std::string& path : paths) {
    std::error_code error;
    const bool had_old = std::filesystem::exists(path, error);
    if (had_old && rename(path.c_str(), BackupOf(path).c_str()) != 0) {
      undo();
      return false;
    }
    if (rename(PartOf(path).c_str(), path.c_str()) != 0) {
      if (had_old) rename(BackupOf(path).c_str(), path.c_str());
      undo();
      return false;
    }
    placed.push_back({path, had_old});
  }
  for (const Placed& step : placed) {
    if (step.had_old) std::remove(BackupOf(step.path).c_str());
  }
  return true;
}

}  // namespace

bool SaveDepthFiles(const std::string& stem, const TDepthSnapshot& snapshot, std::string& why, int& unfit,
                    const TRenameFile& rename) {
  unfit = 0;
  if (snapshot.Disparity16.empty()) return why = "Save depth: no disparity map yet", false;
  std::vector<std::pair<std::string, std::string>> files{
      {stem + "_disparity.png", Png(BenchmarkDisparity(snapshot.Disparity16, snapshot.MinDisparity, &unfit))},
      {stem + "_left.png", Png(snapshot.Left)}};
  if (snapshot.Calibration && snapshot.Calibration->SquareSize_mm > 0) {
    const cv::Mat points = PointsOf(snapshot.Disparity16, snapshot.MinDisparity, *snapshot.Calibration);
    files.emplace_back(stem + "_depth.png", Png(DepthImage(points)));
    files.emplace_back(stem + ".ply", PointCloudPly(points, snapshot.Left));
  }
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : files) {
    std::error_code error;
    if (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error)) {
      return why = "Save depth: " + path + " is there and is no file", false;
    }
    paths.push_back(path);
  }
  const auto remove_parts = [&paths] {
    for (const std::string& path : paths) std::remove(PartOf(path).c_str());
  };
  for (const auto& [path, bytes] : files) {
    if (!WriteBytes(PartOf(path), bytes)) {
      remove_parts();
      return why = "Save depth: " + path + " can not be written", false;
    }
  }
  if (!PlaceParts(paths, rename)) {
    remove_parts();
    return why = "Save depth: the files can not be put in place under " + stem + "; the old ones are kept",
           false;
  }
  return true;
}
