#pragma once

#include <string>

#include "drivers/sim_config.h"

namespace sim {

// Writes the rig at one image size as OpenCV YAML: K1, D1 for camera 1, then
// K<n>, D<n>, R<n>, T<n> for each further camera, R and T repeating camera
// 2's pose as stereo calibration names it. False when the file cannot be made.
bool WriteRigFile(const SimConfig& config, const std::string& path, int width, int height);

}  // namespace sim
