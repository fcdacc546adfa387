#pragma once

// ROS camera_info files: left.yaml and right.yaml beside each other, the
// plumb_bob model, the rectification of each camera and its projection; the
// right camera's P[0,3] is -fx * baseline in metres.

#include <optional>
#include <string>

#include "filters/stereo_calibration.h"

namespace formats {

// Writes left.yaml and right.yaml into the folder of `path`.
bool WriteRosCameraInfo(const std::string& path, const TStereoCalibration& calibration, std::string& why);
// Reads both files of the folder of `path`; the pair and its rectification
// when the right projection holds a baseline.
std::optional<TStereoCalibration> ReadRosCameraInfo(const std::string& path, std::string& why);

}  // namespace formats
