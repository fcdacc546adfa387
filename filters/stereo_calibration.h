#pragma once

// Calibration of the camera pair together, from the views both cameras
// collected and their own calibrations, with the figures a rig owner judges
// it by, and the calibration file that keeps it.

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

class TCalibrationFilter;

struct TStereoCalibration {
  cv::Size ImageSize;
  cv::Size BoardSize;
  cv::Matx33d K1, K2;
  cv::Vec4d D1, D2;
  // Side of a board square in mm; 0 for a file written before it was kept,
  // whose lengths are in board squares.
  double SquareSize_mm = 0;
  // The right camera relative to the left one: X2 = R * X1 + T, T in mm
  // (in board squares without a square size).
  cv::Matx33d R = cv::Matx33d::eye();
  cv::Vec3d T;
  cv::Matx33d E, F;
  // Both cameras rectified as OpenCV computes it.
  cv::Matx33d R1, R2;
  cv::Matx34d P1, P2;
  cv::Matx44d Q;
  // Maps positions of the rectified right image to positions in its
  // undistorted image (the inverse map that "Calibrate and Rectify" uses).
  cv::Matx33d Warp = cv::Matx33d::eye();
  double RmsLeft = 0, RmsRight = 0, RmsPair = 0;
  // RMS of each view in the left and the right image.
  std::vector<cv::Vec2d> ViewErrors;
  // Mean distance of the collected corners from their epipolar lines, and
  // of matching corners' rows after the warp and after a rectification of
  // both images, all in pixels.
  double EpipolarDistance = 0, RowErrorWarp = 0, RowErrorRectified = 0;
  std::string Date;
};

// The pair calibrated from the collected views; none (with the reason) when
// there are too few views or a camera is not calibrated yet.
std::optional<TStereoCalibration> CalibrateStereo(TCalibrationFilter& calibration, std::string& why);

// The lines a stereo calibration reports, four decimals each.
std::vector<std::string> StereoReport(const TStereoCalibration& result);

// The unit of the calibration's lengths: "mm", or "squares" without a
// square size.
const char* LengthUnit(const TStereoCalibration& calibration);

// The homography of points at infinity from left to right undistorted
// pixels, scaled so that its last element is 1.
cv::Matx33d InfinityWarp(const cv::Matx33d& k1, const cv::Matx33d& r, const cv::Matx33d& k2);

// Largest image side a calibration file may name.
inline constexpr int kLargestImageSide = 16384;

// Why the matrix is no camera matrix [fx 0 cx; 0 fy cy; 0 0 1] with
// positive focal lengths; empty when it is one.
std::string CameraMatrixRefusal(const cv::Matx33d& k);
// Why R and T are not the pair calibrated together (never calibrated: T
// zero); empty when they are.
std::string PairRefusal(const TStereoCalibration& calibration);
// Why R, T, R1, R2, P1, P2 and Q are not the pair calibrated together and
// its rectification, as "Stereo Calibrate" makes them (never made: all
// zero); empty when they are.
std::string RectificationRefusal(const TStereoCalibration& calibration);

// OpenCV YAML storage; R, T, E, F only where the pair was calibrated
// together, R1, R2, P1, P2, Q only where they are its rectification. False
// (with the reason) when it cannot be written.
bool WriteCalibrationFile(const std::string& path, const TStereoCalibration& calibration, std::string& why);
// None (with the reason) for a file that is not such a calibration, is
// damaged or holds values no calibration has. A file without the pair's
// part gives a record whose RectificationRefusal is not empty.
std::optional<TStereoCalibration> ReadCalibrationFile(const std::string& path, std::string& why);
