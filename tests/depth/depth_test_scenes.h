#pragma once

// Scenes and rigs with a known answer for the depth tests: textures a matcher
// finds its shift in, a rig whose rectification turns both cameras, and a
// folder of its own.

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "filters/stereo_calibration.h"

namespace depth_test {

// Smooth texture: what a matcher finds sub-pixel disparities in.
inline cv::Mat Texture(cv::Size size, int seed) {
  cv::Mat noise(size, CV_8U);
  cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, noise, {0, 0}, 1.5);
  cv::normalize(noise, noise, 0, 255, cv::NORM_MINMAX);
  return noise;
}

// Full-contrast texture: every wrong disparity costs what the cost range allows.
inline cv::Mat BinaryTexture(cv::Size size, int seed) {
  cv::Mat noise(size, CV_8U);
  cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, 0, 2);
  return noise * 255;
}

// A textured wall slanting away: the disparity grows from 8 px at the left
// edge to about 54 px at the right one, known at every pixel.
struct SlantedPair {
  cv::Mat left, right;
  cv::Mat truth;  // CV_32F disparity of each left pixel
};

inline SlantedPair SlantedWall(cv::Size size) {
  const cv::Mat texture = Texture({size.width + 64, size.height}, 12);
  SlantedPair pair;
  pair.left = texture.colRange(0, size.width).clone();
  const double slope = 48.0 / size.width;
  cv::Mat map_x(size, CV_32F), map_y(size, CV_32F);
  pair.truth.create(size, CV_32F);
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      map_x.at<float>(y, x) = static_cast<float>(x + 8 + slope * x);
      map_y.at<float>(y, x) = static_cast<float>(y);
      // Left pixel x sees texture column x, which the right image shows at
      // (x - 8) / (1 + slope).
      pair.truth.at<float>(y, x) = static_cast<float>(x - (x - 8) / (1 + slope));
    }
  }
  cv::remap(texture, pair.right, map_x, map_y, cv::INTER_LINEAR);
  return pair;
}

// A rig whose right camera is turned 3 degrees and set 60 mm to the side, so
// that rectifying turns both cameras.
inline std::shared_ptr<const TStereoCalibration> TurnedRig(cv::Size size) {
  auto rig = std::make_shared<TStereoCalibration>();
  rig->ImageSize = size;
  rig->SquareSize_mm = 25;
  rig->K1 = rig->K2 = cv::Matx33d(500, 0, size.width / 2.0, 0, 500, size.height / 2.0, 0, 0, 1);
  cv::Rodrigues(cv::Vec3d(0, 3 * CV_PI / 180, 0), rig->R);
  rig->T = cv::Vec3d(-60, 2, 1);
  cv::stereoRectify(rig->K1, rig->D1, rig->K2, rig->D2, size, rig->R, rig->T, rig->R1, rig->R2, rig->P1,
                    rig->P2, rig->Q);
  return rig;
}

// A folder of its own, removed with everything in it.
struct TempFolder {
  TempFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "depthXXXXXX").string();
    path = mkdtemp(name.data());
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::string filePath(const std::string& name) const { return (path / name).string(); }
  std::filesystem::path path;
};

}  // namespace depth_test
