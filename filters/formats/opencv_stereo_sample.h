#pragma once

// The file pair of OpenCV's stereo calibration sample: intrinsics.yml (M1,
// D1, M2, D2 with k3) and extrinsics.yml (R, T, R1, R2, P1, P2, Q), lengths
// in mm as the workbench keeps them. Neither holds the image size.

#include <optional>
#include <string>

#include "filters/stereo_calibration.h"

namespace formats {

bool WriteOpenCvStereoSample(const std::string& path, const TStereoCalibration& calibration,
                             std::string& why);
// extrinsics.yml is optional: without it, the models only.
std::optional<TStereoCalibration> ReadOpenCvStereoSample(const std::string& path, std::string& why);

}  // namespace formats
