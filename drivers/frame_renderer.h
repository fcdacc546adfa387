#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "drivers/imaging_effects.h"
#include "drivers/depth_scene.h"
#include "drivers/sim_config.h"
#include "drivers/sim_driver_api.h"

namespace sim {

class ReplaySource;

// Everything one frame needs, taken from the device under its lock.
struct FrameRequest {
  uint8_t* pixels = nullptr;
  int32_t pitch = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t colour_mode = IS_CM_BGR24;
  double scene_time_s = 0;
  double exposure_ms = 10.0;
  int32_t brightness = 128;  // 0..255, 128 = no offset
  int32_t contrast = 256;    // 0..511, 256 = unity gain
  StereoSimCameraModel camera{};
};

// Linear sensor response: digital numbers per millisecond of exposure for a
// perfect white surface, before contrast gain and brightness offset.
inline constexpr float kDnPerMs = 25.0f;

// How light becomes digital numbers in one frame: a linear response per
// channel (exposure, contrast, colour cast) plus the brightness offset.
struct SensorResponse {
  int channels = 0;  // bytes per pixel: 1, 3 or 4 (the fourth stays 0)
  float gain[3] = {0, 0, 0};
  float offset = 0;
  bool operator==(const SensorResponse&) const = default;
};
SensorResponse ResponseFor(const FrameRequest& request);

// Writes `count` pixels of the given reflectances, with noise (one value per
// channel sample), saturating at 0 and 255.
void ExposePixels(const float* reflectance, int count, const SensorResponse& response, const float* noise,
                  uint8_t* out);

// Precomputed normalised ray of every sensor pixel of one camera model.
struct RayTable {
  StereoSimCameraModel camera{};
  std::vector<float> x;
  std::vector<float> y;
};
void BuildRayTable(const StereoSimCameraModel& camera, RayTable& table);

// Renders the scene of one camera into driver memory. Each device's render
// thread owns one; nothing in it is shared.
class FrameRenderer {
 public:
  FrameRenderer(const SimConfig& config, uint32_t camera_id);
  ~FrameRenderer();
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;

  void Render(const FrameRequest& request);

 private:
  struct Span {
    int x0, x1, y0, y1;
  };
  void RenderBoard(const FrameRequest& request);
  Span BoardSpan(const FrameRequest& request, const cv::Matx33d& ray_to_board) const;
  const float* NextNoise(size_t count);
  // Noisy background pixels for a whole row, from a table made once per response.
  const uint8_t* NextBackground(const SensorResponse& response, int width);
  size_t NextRandom(size_t below);

  double square_mm_;
  ImageSource source_;
  std::unique_ptr<ReplaySource> replay_;
  RayTable rays_;
  std::vector<float> reflectance_;
  SceneBackdrop backdrop_;
  // The board source's plain backdrop: background reflectance, infinitely far.
  std::vector<float> backdrop_row_;
  std::vector<float> backdrop_inverse_depth_;
  std::vector<float> noise_;
  std::vector<uint8_t> background_;
  SensorResponse background_response_;
  uint64_t random_state_;
  ImagingEffects imaging_;
};

}  // namespace sim
