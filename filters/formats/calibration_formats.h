#pragma once

// The calibration files "Save…" and "Load…" offer, told apart by the file
// name chosen: the workbench's own OpenCV YAML file, ROS camera_info
// (left.yaml, right.yaml), Kalibr (camchain.yaml), mrcal (left.cameramodel,
// right.cameramodel) and OpenCV's stereo sample (intrinsics.yml,
// extrinsics.yml).

#include <optional>
#include <string>

#include "filters/stereo_calibration.h"

enum class TCalibrationFormat {
  Workbench,
  RosCameraInfo,
  KalibrCamchain,
  MrcalCameraModel,
  OpenCvStereoSample
};

TCalibrationFormat FormatOfPath(const std::string& path);
const char* FormatName(TCalibrationFormat format);

// False (with the reason) when a file cannot be written.
bool WriteCalibrationAs(const std::string& path, const TStereoCalibration& calibration, std::string& why);
// What the file holds: the models always, the pair and its rectification
// where it has them (R1 ... Q made from R and T where it has only those);
// none (with the reason) when refused.
std::optional<TStereoCalibration> ReadCalibrationAs(const std::string& path, std::string& why);
