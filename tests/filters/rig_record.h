#pragma once

// A stereo calibration as "Stereo Calibrate" makes one, of a rig with a
// 120 mm baseline and a small toe-in.

#include <opencv2/calib3d.hpp>

#include "filters/stereo_calibration.h"

inline TStereoCalibration RigCalibration() {
  TStereoCalibration c;
  c.ImageSize = {640, 480};
  c.BoardSize = {8, 6};
  c.SquareSize_mm = 25;
  c.K1 = cv::Matx33d(500, 0, 322, 0, 490, 238, 0, 0, 1);
  c.K2 = cv::Matx33d(480, 0, 310, 0, 475, 250, 0, 0, 1);
  c.D1 = cv::Vec4d(-0.2, 0.05, 0.001, -0.0005);
  c.D2 = cv::Vec4d(-0.12, 0.02, 0.0003, 0.0002);
  cv::Rodrigues(cv::Vec3d(0.002, 0.03, -0.004), c.R);
  c.T = cv::Vec3d(-120, 0.5, 0.2);
  cv::stereoRectify(c.K1, c.D1, c.K2, c.D2, c.ImageSize, c.R, c.T, c.R1, c.R2, c.P1, c.P2, c.Q);
  c.Warp = InfinityWarp(c.K1, c.R, c.K2);
  return c;
}
