#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/fault_plan.h"
#include "drivers/imaging_effects.h"
#include "drivers/lens.h"
#include "drivers/sim_driver_api.h"

namespace sim {

// Sensor size the lens parameters refer to; smaller images are read out
// binned, so the horizontal field of view stays and the height is cropped.
inline constexpr int kSensorWidth = 1280;
inline constexpr int kSensorHeight = 1024;
inline constexpr int kMaxCameras = 64;

enum class ImageSource { kMovingBoard, kStillBoard, kReplay, kScene };

// One camera of the rig at sensor resolution; pose relative to camera 1.
struct CameraGeometry {
  double fx, fy, cx, cy;
  Distortion distortion;
  cv::Vec3d rotation;     // Rodrigues vector, camera 1 -> this camera
  cv::Vec3d translation;  // mm
};

struct SimConfig {
  int camera_count = 2;
  std::string model_name = "SimStereo-1280";
  double noise_dn = 1.0;
  double scene_speed = 1.0;
  double square_mm = 25.0;
  ImageSource source = ImageSource::kMovingBoard;
  std::string replay_dir;
  double replay_fps = 10.0;
  std::string rig_file;
  // STEREO_SIM_STAMP=1: each frame carries its trigger number in its first
  // and last rows, so a reader can tell mixed pairs and torn images.
  bool stamp_frames = false;
  int rig_file_width = 640;  // the workbench's capture size
  int rig_file_height = 480;
  std::vector<CameraGeometry> cameras;  // index 0 is camera id 1
  // STEREO_SIM_FAIL as given (its counts restart when it changes) and parsed.
  std::string fault_text;
  std::vector<FaultRule> faults;
  std::vector<UnplugRule> unplug;
  ImagingSettings imaging;
};

using EnvLookup = std::function<const char*(const char*)>;

// Reads every STEREO_SIM_* variable; values that do not parse keep their
// default and are reported on standard error.
SimConfig ReadConfig(const EnvLookup& env);
SimConfig ReadConfigFromEnvironment();

// Comma-separated numbers, exactly `count` of them.
std::optional<std::vector<double>> ParseNumberList(std::string_view text, size_t count);

// "WxH" with both sides positive.
std::optional<std::pair<int, int>> ParseImageSize(std::string_view text);

// The camera as seen at a given image size (binned and centre-cropped).
StereoSimCameraModel ModelForImage(const CameraGeometry& camera, int width, int height);

}  // namespace sim
