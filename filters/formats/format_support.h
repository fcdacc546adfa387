#pragma once

// What the calibration formats of other tools share: numbers written in
// full precision, lists of numbers read from YAML nodes, the lengths'
// units and the pair's rectification where a format does not keep it.

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "filters/stereo_calibration.h"

namespace formats {

inline constexpr double kMillimetresPerMetre = 1000.0;

// "[a, b, c]" with every digit a double holds.
std::string NumberList(const double* values, int count);

// The node's numbers when it is a sequence of exactly `count` finite
// numbers; none else.
std::optional<std::vector<double>> ReadNumbers(const cv::FileNode& node, int count);

// Opens plain YAML (no OpenCV header) after the storage guard; none (with
// the reason) when refused or unreadable.
std::optional<cv::FileStorage> OpenYaml(const std::string& path, std::string& why);

// Makes R1, R2, P1, P2, Q from the models, R, T and the image size when the
// file held the pair but not its rectification.
void RectifyFromPair(TStereoCalibration& calibration);

std::string FileBeside(const std::string& path, const std::string& name);

}  // namespace formats
