#include "drivers/rig_queries.h"

#include <cmath>
#include <opencv2/core.hpp>

#include "drivers/board_scene.h"
#include "drivers/depth_truth.h"
#include "drivers/library_devices.h"
#include "drivers/sim_device.h"
#include "drivers/sim_driver_api.h"

namespace sim {

bool WriteRigFile(const SimConfig& config, const std::string& path, int width, int height) {
  try {
    cv::FileStorage file(path, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_YAML);
    if (!file.isOpened()) return false;
    file << "image_width" << width << "image_height" << height;
    file << "board_inner_corners" << cv::Size(kSquaresX - 1, kSquaresY - 1) << "square_mm"
         << config.square_mm;
    for (size_t i = 0; i < config.cameras.size(); ++i) {
      const StereoSimCameraModel m = ModelForImage(config.cameras[i], width, height);
      const std::string n = std::to_string(i + 1);
      file << "K" + n << cv::Matx33d(m.fx, 0, m.cx, 0, m.fy, m.cy, 0, 0, 1);
      file << "D" + n << cv::Matx<double, 1, 5>(m.k1, m.k2, m.p1, m.p2, 0.0);
      if (i == 0) continue;
      const cv::Matx33d rotation = RotationFromVector({m.rotation[0], m.rotation[1], m.rotation[2]});
      // As a matrix, so that readers of OpenCV's stereo files take it as they take R.
      const cv::Mat translation =
          (cv::Mat_<double>(3, 1) << m.translation[0], m.translation[1], m.translation[2]);
      file << "R" + n << rotation << "T" + n << translation;
      if (i == 1) file << "R" << rotation << "T" << translation;
    }
    return true;
  } catch (const cv::Exception&) {
    return false;
  }
}

namespace {

// The scene's moment for a truth query: where the library's cameras are now.
double SceneTimeNow(const SimConfig& config) {
  return SceneTimeAt(std::chrono::steady_clock::now(), config.scene_speed);
}

Rectification RectificationOf(const double* k, const double* d, const double* r, const double* p) {
  return {cv::Matx33d(k), cv::Vec4d(d), cv::Matx33d(r), cv::Matx34d(p)};
}

}  // namespace

}  // namespace sim

extern "C" {

int32_t stereo_sim_GetCameraModel(uint32_t cameraId, int32_t width, int32_t height,
                                  StereoSimCameraModel* pModel) {
  if (pModel == nullptr || width <= 0 || height <= 0) return IS_INVALID_PARAMETER;
  const sim::SimConfig config = sim::ReadConfigFromEnvironment();
  if (cameraId == 0 || cameraId > config.cameras.size()) return IS_INVALID_PARAMETER;
  *pModel = sim::ModelForImage(config.cameras[cameraId - 1], width, height);
  return IS_SUCCESS;
}

int32_t stereo_sim_GetBoard(StereoSimBoard* pBoard) {
  if (pBoard == nullptr) return IS_INVALID_PARAMETER;
  *pBoard = {sim::kSquaresX - 1, sim::kSquaresY - 1, sim::ReadConfigFromEnvironment().square_mm};
  return IS_SUCCESS;
}

int32_t stereo_sim_SetSceneTime(double seconds) {
  if (!std::isfinite(seconds)) return IS_INVALID_PARAMETER;
  sim::SetSceneTime(seconds);
  return IS_SUCCESS;
}

int32_t stereo_sim_FaultsInjected(int32_t* pCount) {
  if (pCount == nullptr) return IS_INVALID_PARAMETER;
  *pCount = sim::LibraryDevices().Faults().Injected();
  return IS_SUCCESS;
}

int32_t stereo_sim_WriteRigFile(const char* path, int32_t width, int32_t height) {
  if (path == nullptr || width <= 0 || height <= 0) return IS_INVALID_PARAMETER;
  return sim::WriteRigFile(sim::ReadConfigFromEnvironment(), path, width, height) ? IS_SUCCESS
                                                                                  : IS_NO_SUCCESS;
}

int32_t stereo_sim_GetDepthTruth(uint32_t cameraId, int32_t width, int32_t height, float* depth_mm) {
  if (depth_mm == nullptr || width <= 0 || height <= 0) return IS_INVALID_PARAMETER;
  const sim::SimConfig config = sim::ReadConfigFromEnvironment();
  if (cameraId == 0 || cameraId > config.cameras.size()) return IS_INVALID_PARAMETER;
  return sim::DepthTruth(config, cameraId, width, height, sim::SceneTimeNow(config), depth_mm)
             ? IS_SUCCESS
             : IS_NO_SUCCESS;
}

int32_t stereo_sim_GetRectifiedDisparityTruth(int32_t width, int32_t height, const double* K1,
                                              const double* D1, const double* R1, const double* P1,
                                              const double* K2, const double* D2, const double* R2,
                                              const double* P2, float* disparity) {
  for (const double* matrix : {K1, D1, R1, P1, K2, D2, R2, P2}) {
    if (matrix == nullptr) return IS_INVALID_PARAMETER;
  }
  if (disparity == nullptr || width <= 0 || height <= 0) return IS_INVALID_PARAMETER;
  const sim::SimConfig config = sim::ReadConfigFromEnvironment();
  if (config.cameras.size() < 2) return IS_INVALID_PARAMETER;
  return sim::RectifiedDisparityTruth(config, width, height, sim::RectificationOf(K1, D1, R1, P1),
                                      sim::RectificationOf(K2, D2, R2, P2), sim::SceneTimeNow(config),
                                      disparity)
             ? IS_SUCCESS
             : IS_NO_SUCCESS;
}

}  // extern "C"
