#include "filters/stereo_calibration.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <iterator>
#include <limits>
#include <opencv2/calib3d.hpp>

#include "filters/storage_guard.h"
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

namespace {

constexpr double kLargestFocal_px = 1e6;
constexpr double kRotationTolerance = 1e-6;

bool Finite(const double* values, int count) {
  return std::all_of(values, values + count, [](double v) { return std::isfinite(v); });
}

bool IsRotation(const cv::Matx33d& r) {
  return Finite(r.val, 9) && cv::norm(r * r.t() - cv::Matx33d::eye(), cv::NORM_INF) < kRotationTolerance &&
         cv::determinant(r) > 0;
}

// [f 0 cx tx; 0 f cy ty; 0 0 1 0], as cv::stereoRectify makes it.
bool IsRectifiedProjection(const cv::Matx34d& p) {
  return Finite(p.val, 12) && p(0, 0) > 0 && p(1, 1) > 0 && p(0, 0) <= kLargestFocal_px &&
         p(1, 1) <= kLargestFocal_px && p(1, 0) == 0 && p(2, 0) == 0 && p(2, 1) == 0 && p(2, 2) == 1 &&
         p(2, 3) == 0;
}

}  // namespace

std::string CameraMatrixRefusal(const cv::Matx33d& k) {
  const bool focal = k(0, 0) > 0 && k(1, 1) > 0 && k(0, 0) <= kLargestFocal_px && k(1, 1) <= kLargestFocal_px;
  const bool shape = k(1, 0) == 0 && k(2, 0) == 0 && k(2, 1) == 0 && k(2, 2) == 1;
  if (!Finite(k.val, 9) || !focal || !shape) return "is not a camera matrix with positive focal lengths";
  return {};
}

std::string PairRefusal(const TStereoCalibration& c) {
  if (!IsRotation(c.R)) return "R is not a rotation";
  const double baseline = cv::norm(c.T);
  if (!std::isfinite(baseline) || baseline <= 0) return "T is no baseline";
  return {};
}

std::string RectificationRefusal(const TStereoCalibration& c) {
  if (std::string why = PairRefusal(c); !why.empty()) return why;
  if (!IsRotation(c.R1) || !IsRotation(c.R2)) return "R1 or R2 is not a rotation";
  if (!IsRectifiedProjection(c.P1) || !IsRectifiedProjection(c.P2))
    return "P1 or P2 is not a rectified projection";
  if (!Finite(c.Q.val, 16) || c.Q(3, 2) == 0) return "Q does not reproject";
  if (c.ImageSize.width <= 0 || c.ImageSize.height <= 0) return "the image size is missing";
  return {};
}

bool WriteCalibrationFile(const std::string& path, const TStereoCalibration& c, std::string& why) {
  try {
    cv::FileStorage file(path, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_YAML);
    if (!file.isOpened()) return why = "Save: " + path + " can not be written", false;
    const bool pair = PairRefusal(c).empty();
    const bool rectified = RectificationRefusal(c).empty();
    if (!c.ImageSize.empty())
      file << "image_width" << c.ImageSize.width << "image_height" << c.ImageSize.height;
    file << "board_width" << c.BoardSize.width << "board_height" << c.BoardSize.height;
    if (c.SquareSize_mm > 0) file << "square_size_mm" << c.SquareSize_mm;
    file << "K1" << cv::Mat(c.K1) << "D1" << cv::Mat(c.D1).t() << "K2" << cv::Mat(c.K2) << "D2"
         << cv::Mat(c.D2).t();
    file << "Warp" << cv::Mat(c.Warp);
    // A pair never calibrated together has no such parts: zeros would load
    // as a rectification that blacks out every image.
    if (pair) {
      file << "R" << cv::Mat(c.R) << "T" << cv::Mat(c.T) << "E" << cv::Mat(c.E) << "F" << cv::Mat(c.F);
      file << "rms_pair" << c.RmsPair << "epipolar_distance" << c.EpipolarDistance;
      file << "row_error_warp" << c.RowErrorWarp;
    }
    if (rectified) {
      file << "R1" << cv::Mat(c.R1) << "R2" << cv::Mat(c.R2) << "P1" << cv::Mat(c.P1) << "P2"
           << cv::Mat(c.P2);
      file << "Q" << cv::Mat(c.Q);
    }
    file << "rms_left" << c.RmsLeft << "rms_right" << c.RmsRight;
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
  try {
    file[key] >> value;
  } catch (const cv::Exception&) {
    return false;
  }
  if (value.empty() || value.total() != static_cast<size_t>(Rows * Cols) || value.channels() != 1)
    return false;
  value.reshape(1, Rows).convertTo(value, CV_64F);
  if (!cv::checkRange(value)) return false;
  out = cv::Matx<double, Rows, Cols>(value.ptr<double>());
  return true;
}

}  // namespace

namespace {

// How many of the keys the file holds.
template <size_t N>
int Present(const cv::FileStorage& file, const char* const (&keys)[N]) {
  return static_cast<int>(
      std::count_if(std::begin(keys), std::end(keys), [&](const char* key) { return !file[key].empty(); }));
}

// The pair's parts of a file: none, the pair (R, T, E, F), or the pair and
// its rectification (R1, R2, P1, P2, Q), all read; else a refusal.
std::string ReadPairParts(const cv::FileStorage& file, TStereoCalibration& c) {
  static constexpr const char* kPair[] = {"R", "T", "E", "F"};
  static constexpr const char* kRectification[] = {"R1", "R2", "P1", "P2", "Q"};
  const int pair = Present(file, kPair), rectification = Present(file, kRectification);
  if (pair == 0 && rectification == 0) return {};
  cv::Matx<double, 3, 1> translation;
  if (pair != 4 || !ReadMatrix(file, "R", c.R) || !ReadMatrix(file, "T", translation) ||
      !ReadMatrix(file, "E", c.E) || !ReadMatrix(file, "F", c.F))
    return "the pair's R, T, E, F are incomplete or damaged";
  c.T = cv::Vec3d(translation.val);
  if (rectification == 0) return PairRefusal(c);
  if (rectification != 5 || !ReadMatrix(file, "R1", c.R1) || !ReadMatrix(file, "R2", c.R2) ||
      !ReadMatrix(file, "P1", c.P1) || !ReadMatrix(file, "P2", c.P2) || !ReadMatrix(file, "Q", c.Q))
    return "the rectification R1, R2, P1, P2, Q is incomplete or damaged";
  return RectificationRefusal(c);
}

// Why the sizes are refused; empty when read.
std::string ReadSizes(const cv::FileStorage& file, TStereoCalibration& c) {
  const auto board_width = ReadBoundedInt(file["board_width"], 0, std::numeric_limits<int>::max());
  const auto board_height = ReadBoundedInt(file["board_height"], 0, std::numeric_limits<int>::max());
  if (!board_width || !board_height) return "board_width and board_height are not numbers of corners";
  if (std::string why = TCalibrationFilter::BoardSizeRefusal(*board_width, *board_height); !why.empty())
    return why;
  c.BoardSize = {*board_width, *board_height};
  if (!file["image_width"].empty() || !file["image_height"].empty()) {
    const auto width = ReadBoundedInt(file["image_width"], 1, kLargestImageSide);
    const auto height = ReadBoundedInt(file["image_height"], 1, kLargestImageSide);
    if (!width || !height)
      return FormatLine("image_width and image_height are not sizes of 1 ... %d px", kLargestImageSide);
    c.ImageSize = {*width, *height};
  }
  // Absent in files written before the size was kept: lengths stay in squares.
  if (!file["square_size_mm"].empty()) {
    const auto square = ReadBoundedReal(file["square_size_mm"], 0, TCalibrationFilter::MaxSquareSize_mm);
    if (!square || *square <= 0)
      return FormatLine("square_size_mm is not above 0 and at most %g mm",
                        TCalibrationFilter::MaxSquareSize_mm);
    c.SquareSize_mm = *square;
  }
  return {};
}

double ReadFigure(const cv::FileStorage& file, const char* key) {
  return ReadBoundedReal(file[key], 0, std::numeric_limits<double>::max()).value_or(0);
}

}  // namespace

std::optional<TStereoCalibration> ReadCalibrationFile(const std::string& path, std::string& why) {
  if (const auto refusal = StorageFileRefusal(path)) {
    why = "Load: " + *refusal + "; not read";
    return std::nullopt;
  }
  TStereoCalibration c;
  why = "Load: " + path + " is not a calibration file";
  try {
    cv::FileStorage file(path, cv::FileStorage::READ);
    if (!file.isOpened()) return std::nullopt;
    cv::Matx<double, 4, 1> d1, d2;
    const bool models = ReadMatrix(file, "K1", c.K1) && ReadMatrix(file, "D1", d1) &&
                        ReadMatrix(file, "K2", c.K2) && ReadMatrix(file, "D2", d2) &&
                        ReadMatrix(file, "Warp", c.Warp);
    if (!models) return std::nullopt;
    c.D1 = cv::Vec4d(d1.val);
    c.D2 = cv::Vec4d(d2.val);
    std::string refusal = ReadSizes(file, c);
    if (refusal.empty() && !CameraMatrixRefusal(c.K1).empty()) refusal = "K1 " + CameraMatrixRefusal(c.K1);
    if (refusal.empty() && !CameraMatrixRefusal(c.K2).empty()) refusal = "K2 " + CameraMatrixRefusal(c.K2);
    if (refusal.empty() && std::abs(cv::determinant(c.Warp)) < 1e-12) refusal = "Warp is not invertible";
    if (refusal.empty()) refusal = ReadPairParts(file, c);
    if (!refusal.empty()) {
      why = "Load: " + path + " refused: " + refusal;
      return std::nullopt;
    }
    c.RmsLeft = ReadFigure(file, "rms_left");
    c.RmsRight = ReadFigure(file, "rms_right");
    c.RmsPair = ReadFigure(file, "rms_pair");
    c.EpipolarDistance = ReadFigure(file, "epipolar_distance");
    c.RowErrorWarp = ReadFigure(file, "row_error_warp");
    if (file["date"].isString()) c.Date = static_cast<std::string>(file["date"]);
  } catch (const cv::Exception&) {
    why = "Load: " + path + " is damaged";
    return std::nullopt;
  }
  why.clear();
  return c;
}
