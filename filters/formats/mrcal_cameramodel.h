#pragma once

// mrcal's .cameramodel, one per camera (left.cameramodel and
// right.cameramodel beside each other): LENSMODEL_OPENCV4 intrinsics
// fx, fy, cx, cy, k1, k2, p1, p2, extrinsics rt_fromref (the left camera's
// frame, metres) and imagersize.

#include <optional>
#include <string>

#include "filters/stereo_calibration.h"

namespace formats {

bool WriteMrcalCameraModels(const std::string& path, const TStereoCalibration& calibration, std::string& why);
std::optional<TStereoCalibration> ReadMrcalCameraModels(const std::string& path, std::string& why);

}  // namespace formats
