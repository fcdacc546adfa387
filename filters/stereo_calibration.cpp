#include "filters/stereo_calibration.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <opencv2/calib3d.hpp>

#include "filters/ucalibfilter.h"

namespace {

constexpr int kViewsNeeded = 8;

// Collected corners of one camera with the lens taken out, in pixels.
std::vector<cv::Point2d> Undistorted(const std::vector<cv::Mat>& views, const cv::Matx33d& k,
                                     const cv::Vec4d& d, const cv::Matx33d& rotation,
                                     const cv::Matx33d& projection) {
  std::vector<cv::Point2d> result;
  for (const cv::Mat& view : views) {
    cv::Mat points;
    cv::undistortPoints(view, points, k, d, rotation, projection);
    points.convertTo(points, CV_64FC2);
    result.insert(result.end(), points.begin<cv::Point2d>(), points.end<cv::Point2d>());
  }
  return result;
}

double MeanEpipolarDistance(const std::vector<cv::Point2d>& left, const std::vector<cv::Point2d>& right,
                            const cv::Matx33d& f) {
  double sum = 0;
  for (size_t i = 0; i < left.size(); ++i) {
    const cv::Vec3d l(left[i].x, left[i].y, 1), r(right[i].x, right[i].y, 1);
    const cv::Vec3d in_right = f * l, in_left = f.t() * r;
    sum += std::abs(r.dot(in_right)) / std::hypot(in_right[0], in_right[1]);
    sum += std::abs(l.dot(in_left)) / std::hypot(in_left[0], in_left[1]);
  }
  return left.empty() ? 0 : sum / (2.0 * static_cast<double>(left.size()));
}

double MeanRowDifference(const std::vector<cv::Point2d>& left, const std::vector<cv::Point2d>& right) {
  double sum = 0;
  for (size_t i = 0; i < left.size(); ++i) sum += std::abs(left[i].y - right[i].y);
  return left.empty() ? 0 : sum / static_cast<double>(left.size());
}

// Where each right point lands in the output of the warp.
std::vector<cv::Point2d> ThroughInverse(const std::vector<cv::Point2d>& points, const cv::Matx33d& warp) {
  std::vector<cv::Point2d> result;
  cv::perspectiveTransform(points, result, cv::Matx33d(warp.inv()));
  return result;
}

std::string Today() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  return text;
}

}  // namespace

cv::Matx33d InfinityWarp(const cv::Matx33d& k1, const cv::Matx33d& r, const cv::Matx33d& k2) {
  const cv::Matx33d warp = k2 * r * k1.inv();
  return warp * (1.0 / warp(2, 2));
}

std::optional<TStereoCalibration> CalibrateStereo(TCalibrationFilter& calibration, std::string& why) {
  if (calibration.CameraCount() != 2) return why = "Stereo Calibrate: two cameras needed", std::nullopt;
  TCalibrationFilter::Camera& left = calibration.Cameras[0];
  TCalibrationFilter::Camera& right = calibration.Cameras[1];
  if (left.ViewCount < kViewsNeeded || left.ViewCount != right.ViewCount) {
    why = "Stereo Calibrate: " + std::to_string(left.ViewCount) + " views collected, " +
          std::to_string(kViewsNeeded) + " needed";
    return std::nullopt;
  }
  if (!left.Calibrated() || !right.Calibrated() || left.ImageSize != right.ImageSize) {
    why = "Stereo Calibrate: press \"Calibrate\" first";
    return std::nullopt;
  }
  TStereoCalibration result;
  result.ImageSize = left.ImageSize;
  result.BoardSize = cv::Size(calibration.BoardWidth, calibration.BoardHeight);
  result.SquareSize_mm = calibration.SquareSize_mm;
  result.K1 = left.CameraMatrix;
  result.K2 = right.CameraMatrix;
  cv::Mat d1(left.Distortion, true), d2(right.Distortion, true);
  const std::vector<cv::Mat> objects = calibration.ObjectViews(0);
  const std::vector<cv::Mat> left_points = calibration.ImageViews(0),
                             right_points = calibration.ImageViews(1);
  cv::Mat view_errors;
  try {
    result.RmsPair = cv::stereoCalibrate(
        objects, left_points, right_points, result.K1, d1, result.K2, d2, result.ImageSize, result.R,
        result.T, result.E, result.F, view_errors, cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_K3,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-7));
    result.D1 = cv::Vec4d(d1.ptr<double>());
    result.D2 = cv::Vec4d(d2.ptr<double>());
    cv::stereoRectify(result.K1, result.D1, result.K2, result.D2, result.ImageSize, result.R, result.T,
                      result.R1, result.R2, result.P1, result.P2, result.Q);
  } catch (const cv::Exception& error) {
    why = "Stereo Calibrate failed: " + error.err;
    return std::nullopt;
  }
  view_errors.convertTo(view_errors, CV_64F);
  for (int v = 0; v < view_errors.rows; ++v) {
    result.ViewErrors.emplace_back(view_errors.at<double>(v, 0), view_errors.at<double>(v, 1));
  }
  result.RmsLeft = left.Rms;
  result.RmsRight = right.Rms;
  result.Warp = InfinityWarp(result.K1, result.R, result.K2);
  const cv::Matx33d same = cv::Matx33d::eye();
  const auto left_pixels = Undistorted(left_points, result.K1, result.D1, same, result.K1);
  const auto right_pixels = Undistorted(right_points, result.K2, result.D2, same, result.K2);
  result.EpipolarDistance = MeanEpipolarDistance(left_pixels, right_pixels, result.F);
  result.RowErrorWarp = MeanRowDifference(left_pixels, ThroughInverse(right_pixels, result.Warp));
  const cv::Matx33d p1(result.P1.get_minor<3, 3>(0, 0)), p2(result.P2.get_minor<3, 3>(0, 0));
  result.RowErrorRectified =
      MeanRowDifference(Undistorted(left_points, result.K1, result.D1, result.R1, p1),
                        Undistorted(right_points, result.K2, result.D2, result.R2, p2));
  result.Date = Today();
  return result;
}

std::vector<std::string> StereoReport(const TStereoCalibration& result) {
  std::vector<std::string> lines{FormatLine("Stereo RMS left %1.4f right %1.4f pair %1.4f px", result.RmsLeft,
                                            result.RmsRight, result.RmsPair),
                                 FormatLine("Epipolar distance %1.4f px", result.EpipolarDistance),
                                 FormatLine("Baseline %1.4f %s", cv::norm(result.T), LengthUnit(result)),
                                 FormatLine("Row error after warp %1.4f px (both images rectified %1.4f px)",
                                            result.RowErrorWarp, result.RowErrorRectified)};
  // A board size that does not match the board pairs corners that are not
  // the same points.
  if (result.RmsPair > 1.0) {
    lines.push_back(
        FormatLine("Pair RMS %1.4f px is high: do the corner counts match the board?", result.RmsPair));
  }
  return lines;
}

const char* LengthUnit(const TStereoCalibration& calibration) {
  return calibration.SquareSize_mm > 0 ? "mm" : "squares";
}

bool WriteCalibrationFile(const std::string& path, const TStereoCalibration& c, std::string& why) {
  try {
    cv::FileStorage file(path, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_YAML);
    if (!file.isOpened()) return why = "Save: " + path + " can not be written", false;
    file << "image_width" << c.ImageSize.width << "image_height" << c.ImageSize.height;
    file << "board_width" << c.BoardSize.width << "board_height" << c.BoardSize.height;
    if (c.SquareSize_mm > 0) file << "square_size_mm" << c.SquareSize_mm;
    file << "K1" << cv::Mat(c.K1) << "D1" << cv::Mat(c.D1).t() << "K2" << cv::Mat(c.K2) << "D2"
         << cv::Mat(c.D2).t();
    file << "R" << cv::Mat(c.R) << "T" << cv::Mat(c.T) << "E" << cv::Mat(c.E) << "F" << cv::Mat(c.F);
    file << "Warp" << cv::Mat(c.Warp);
    file << "R1" << cv::Mat(c.R1) << "R2" << cv::Mat(c.R2) << "P1" << cv::Mat(c.P1) << "P2" << cv::Mat(c.P2);
    file << "Q" << cv::Mat(c.Q);
    file << "rms_left" << c.RmsLeft << "rms_right" << c.RmsRight << "rms_pair" << c.RmsPair;
    file << "epipolar_distance" << c.EpipolarDistance << "row_error_warp" << c.RowErrorWarp;
    file << "date" << c.Date;
    file.release();
  } catch (const cv::Exception& error) {
    why = "Save: " + path + " can not be written: " + error.err;
    return false;
  }
  return true;
}

namespace {

// A matrix of exactly that shape with finite numbers, or false.
template <int Rows, int Cols>
bool ReadMatrix(const cv::FileStorage& file, const char* key, cv::Matx<double, Rows, Cols>& out) {
  cv::Mat value;
  file[key] >> value;
  if (value.empty() || value.total() != static_cast<size_t>(Rows * Cols) || value.channels() != 1)
    return false;
  value.reshape(1, Rows).convertTo(value, CV_64F);
  if (!cv::checkRange(value)) return false;
  out = cv::Matx<double, Rows, Cols>(value.ptr<double>());
  return true;
}

}  // namespace

std::optional<TStereoCalibration> ReadCalibrationFile(const std::string& path, std::string& why) {
  TStereoCalibration c;
  why = "Load: " + path + " is not a calibration file";
  try {
    cv::FileStorage file(path, cv::FileStorage::READ);
    if (!file.isOpened()) return std::nullopt;
    cv::Matx<double, 4, 1> d1, d2;
    cv::Matx<double, 3, 1> translation;
    const bool complete =
        ReadMatrix(file, "K1", c.K1) && ReadMatrix(file, "D1", d1) && ReadMatrix(file, "K2", c.K2) &&
        ReadMatrix(file, "D2", d2) && ReadMatrix(file, "Warp", c.Warp) && ReadMatrix(file, "R", c.R) &&
        ReadMatrix(file, "T", translation) && ReadMatrix(file, "E", c.E) && ReadMatrix(file, "F", c.F) &&
        ReadMatrix(file, "R1", c.R1) && ReadMatrix(file, "R2", c.R2) && ReadMatrix(file, "P1", c.P1) &&
        ReadMatrix(file, "P2", c.P2) && ReadMatrix(file, "Q", c.Q);
    if (!complete) return std::nullopt;
    c.D1 = cv::Vec4d(d1.val);
    c.D2 = cv::Vec4d(d2.val);
    c.T = cv::Vec3d(translation.val);
    c.ImageSize = cv::Size(static_cast<int>(file["image_width"]), static_cast<int>(file["image_height"]));
    c.BoardSize = cv::Size(static_cast<int>(file["board_width"]), static_cast<int>(file["board_height"]));
    if (c.BoardSize.width < TCalibrationFilter::MinCorners ||
        c.BoardSize.height < TCalibrationFilter::MinCorners || c.ImageSize.width <= 0 ||
        c.ImageSize.height <= 0) {
      return std::nullopt;
    }
    // Absent in files written before the size was kept: lengths stay in squares.
    c.SquareSize_mm = file["square_size_mm"].empty() ? 0.0 : static_cast<double>(file["square_size_mm"]);
    if (!std::isfinite(c.SquareSize_mm) || c.SquareSize_mm < 0) return std::nullopt;
    c.RmsLeft = static_cast<double>(file["rms_left"]);
    c.RmsRight = static_cast<double>(file["rms_right"]);
    c.RmsPair = static_cast<double>(file["rms_pair"]);
    c.EpipolarDistance = static_cast<double>(file["epipolar_distance"]);
    c.RowErrorWarp = static_cast<double>(file["row_error_warp"]);
    c.Date = static_cast<std::string>(file["date"]);
  } catch (const cv::Exception&) {
    why = "Load: " + path + " is damaged";
    return std::nullopt;
  }
  why.clear();
  return c;
}
