#include "drivers/sim_config.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace sim {
namespace {

CameraGeometry DefaultCamera(int camera_id) {
  // Camera 1 is the reference; camera 2 sits 120 mm to its right, toed in
  // slightly. Further cameras continue the row at the same spacing.
  CameraGeometry left{1052.0, 1047.5, 652.4, 507.8, {-0.180, 0.080, 0.0008, -0.0005}, {}, {}};
  CameraGeometry right{1041.0, 1038.2, 628.9, 518.3, {-0.150, 0.050, -0.0006, 0.0004}, {}, {}};
  if (camera_id == 1) return left;
  const double steps = camera_id - 1;
  CameraGeometry camera = (camera_id % 2 == 0) ? right : left;
  camera.rotation = cv::Vec3d(0.004, 0.030, -0.002) * steps;
  camera.translation = cv::Vec3d(-120.0, -0.8, 1.5) * steps;
  return camera;
}

void Warn(const char* name, const char* value) {
  std::fprintf(stderr, "stereo sim: ignoring %s=\"%s\"\n", name, value);
}

bool ParseNumber(std::string_view text, double& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

class EnvReader {
 public:
  explicit EnvReader(const EnvLookup& env) : env_(env) {}

  void Number(const char* name, double& out, double min, double max) const {
    const char* value = env_(name);
    if (value == nullptr) return;
    double parsed = 0;
    if (ParseNumber(value, parsed) && parsed >= min && parsed <= max) {
      out = parsed;
    } else {
      Warn(name, value);
    }
  }

  void Text(const char* name, std::string& out) const {
    if (const char* value = env_(name)) out = value;
  }

  // Fills `count` consecutive doubles starting at `first`.
  void List(const std::string& name, double* first, size_t count) const {
    const char* value = env_(name.c_str());
    if (value == nullptr) return;
    if (auto numbers = ParseNumberList(value, count)) {
      std::copy(numbers->begin(), numbers->end(), first);
    } else {
      Warn(name.c_str(), value);
    }
  }

 private:
  const EnvLookup& env_;
};

void ReadCameraOverrides(const EnvReader& reader, int camera_id, CameraGeometry& camera) {
  const std::string prefix = "STEREO_SIM_CAM" + std::to_string(camera_id) + "_";
  double intrinsics[4] = {camera.fx, camera.fy, camera.cx, camera.cy};
  reader.List(prefix + "INTRINSICS", intrinsics, 4);
  camera.fx = intrinsics[0];
  camera.fy = intrinsics[1];
  camera.cx = intrinsics[2];
  camera.cy = intrinsics[3];
  double distortion[4] = {camera.distortion.k1, camera.distortion.k2, camera.distortion.p1,
                          camera.distortion.p2};
  reader.List(prefix + "DISTORTION", distortion, 4);
  camera.distortion = {distortion[0], distortion[1], distortion[2], distortion[3]};
  if (camera_id == 1) return;  // camera 1 defines the rig's frame
  reader.List(prefix + "ROTATION", camera.rotation.val, 3);
  reader.List(prefix + "TRANSLATION", camera.translation.val, 3);
}

}  // namespace

std::optional<std::vector<double>> ParseNumberList(std::string_view text, size_t count) {
  std::vector<double> numbers;
  while (true) {
    const size_t comma = text.find(',');
    double value = 0;
    if (!ParseNumber(text.substr(0, comma), value)) return std::nullopt;
    numbers.push_back(value);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (numbers.size() != count) return std::nullopt;
  return numbers;
}

std::optional<std::pair<int, int>> ParseImageSize(std::string_view text) {
  const size_t x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  int width = 0;
  int height = 0;
  const auto w = std::from_chars(text.data(), text.data() + x, width);
  const auto h = std::from_chars(text.data() + x + 1, text.data() + text.size(), height);
  if (w.ec != std::errc() || w.ptr != text.data() + x || h.ec != std::errc() ||
      h.ptr != text.data() + text.size() || width <= 0 || height <= 0) {
    return std::nullopt;
  }
  return std::pair{width, height};
}

SimConfig ReadConfig(const EnvLookup& env) {
  SimConfig config;
  const EnvReader reader(env);
  double cameras = config.camera_count;
  reader.Number("STEREO_SIM_CAMERAS", cameras, 0, kMaxCameras);
  config.camera_count = static_cast<int>(cameras);
  reader.Text("STEREO_SIM_MODEL", config.model_name);
  config.model_name.resize(std::min<size_t>(config.model_name.size(), kCameraListModelSize - 1));
  reader.Number("STEREO_SIM_NOISE", config.noise_dn, 0.0, 50.0);
  reader.Number("STEREO_SIM_SCENE_SPEED", config.scene_speed, 0.0, 1000.0);
  reader.Number("STEREO_SIM_SQUARE_MM", config.square_mm, 1.0, 500.0);
  reader.Number("STEREO_SIM_REPLAY_FPS", config.replay_fps, 0.01, 1000.0);
  reader.Text("STEREO_SIM_REPLAY", config.replay_dir);
  reader.Text("STEREO_SIM_RIG_FILE", config.rig_file);
  double stamp = 0;
  reader.Number("STEREO_SIM_STAMP", stamp, 0, 1);
  config.stamp_frames = stamp != 0;
  std::string rig_size;
  reader.Text("STEREO_SIM_RIG_SIZE", rig_size);
  if (auto size = ParseImageSize(rig_size)) {
    std::tie(config.rig_file_width, config.rig_file_height) = *size;
  } else if (!rig_size.empty()) {
    Warn("STEREO_SIM_RIG_SIZE", rig_size.c_str());
  }
  std::string source;
  reader.Text("STEREO_SIM_SOURCE", source);
  if (!config.replay_dir.empty()) config.source = ImageSource::kReplay;
  if (source == "still") {
    config.source = ImageSource::kStillBoard;
  } else if (source == "board") {
    config.source = ImageSource::kMovingBoard;
  } else if (source == "scene") {
    config.source = ImageSource::kScene;
  } else if (source == "replay" && !config.replay_dir.empty()) {
    config.source = ImageSource::kReplay;
  } else if (!source.empty()) {
    Warn("STEREO_SIM_SOURCE", source.c_str());
  }
  std::string faults;
  reader.Text("STEREO_SIM_FAIL", faults);
  if (auto rules = ParseFaultRules(faults)) {
    config.fault_text = faults;
    config.faults = std::move(*rules);
  } else {
    Warn("STEREO_SIM_FAIL", faults.c_str());
  }
  std::string unplug;
  reader.Text("STEREO_SIM_UNPLUG", unplug);
  if (auto rules = ParseUnplugRules(unplug)) {
    config.unplug = std::move(*rules);
  } else {
    Warn("STEREO_SIM_UNPLUG", unplug.c_str());
  }
  config.imaging = ReadImagingSettings(env);
  // Camera 1 always exists in the rig description, even with no camera listed.
  const int described = std::max(config.camera_count, 1);
  for (int id = 1; id <= described; ++id) {
    CameraGeometry camera = DefaultCamera(id);
    ReadCameraOverrides(reader, id, camera);
    config.cameras.push_back(camera);
  }
  return config;
}

SimConfig ReadConfigFromEnvironment() {
  return ReadConfig([](const char* name) { return std::getenv(name); });
}

StereoSimCameraModel ModelForImage(const CameraGeometry& camera, int width, int height) {
  const double scale = static_cast<double>(width) / kSensorWidth;
  StereoSimCameraModel model{};
  model.width = width;
  model.height = height;
  model.fx = camera.fx * scale;
  model.fy = camera.fy * scale;
  model.cx = (camera.cx - kSensorWidth / 2.0) * scale + width / 2.0;
  model.cy = (camera.cy - kSensorHeight / 2.0) * scale + height / 2.0;
  model.k1 = camera.distortion.k1;
  model.k2 = camera.distortion.k2;
  model.p1 = camera.distortion.p1;
  model.p2 = camera.distortion.p2;
  for (int i = 0; i < 3; ++i) {
    model.rotation[i] = camera.rotation[i];
    model.translation[i] = camera.translation[i];
  }
  return model;
}

}  // namespace sim
