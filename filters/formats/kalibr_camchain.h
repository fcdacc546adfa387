#pragma once

// Kalibr's camchain.yaml: cam0 and cam1 as pinhole cameras with radtan
// distortion, and cam1's T_cn_cnm1 (cam0 to cam1, metres).

#include <optional>
#include <string>

#include "filters/stereo_calibration.h"

namespace formats {

bool WriteKalibrCamchain(const std::string& path, const TStereoCalibration& calibration, std::string& why);
// The models, and the pair with its rectification made from R and T when
// cam1 has T_cn_cnm1.
std::optional<TStereoCalibration> ReadKalibrCamchain(const std::string& path, std::string& why);

}  // namespace formats
