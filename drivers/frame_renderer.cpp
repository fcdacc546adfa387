#include "drivers/frame_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "drivers/board_scene.h"
#include "drivers/depth_scene.h"
#include "drivers/lens.h"
#include "drivers/replay_source.h"

namespace sim {
namespace {

constexpr float kWhite = 0.85f;
constexpr float kBlack = 0.06f;
constexpr float kBackground = 0.32f;
// Slight colour cast of the light on a colour sensor: blue, green, red gains.
constexpr float kChannelGain[3] = {0.93f, 1.0f, 0.96f};
// Noise table length; rows read it from a random offset.
constexpr size_t kNoiseTableSize = 1 << 16;
constexpr size_t kMaxRowSamples = size_t{8192} * 4;

inline float Clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

// Coefficients of one frame's board homography, and the board outline in squares.
struct BoardRowParams {
  float g[9];
  float footprint;  // pixel size on the board (squares) at unit inverse depth
  float pattern_lo_u, pattern_hi_u, pattern_lo_v, pattern_hi_v;
  float margin_lo_u, margin_hi_u, margin_lo_v, margin_hi_v;
};

// Anti-aliased square wave of the checker along one board axis: +1 / -1 on
// alternate squares, ramping linearly across an edge over one pixel footprint.
inline float CheckerWave(float u, float inverse_width) {
  const float whole = static_cast<float>(static_cast<int>(u + 128.0f)) - 128.0f;  // floor, u >= -100
  const float frac = u - whole;
  const float edge_distance = std::min(frac, 1.0f - frac);
  const float magnitude = std::min(1.0f, 2.0f * edge_distance * inverse_width);
  const float sign = 1.0f - 2.0f * static_cast<float>(static_cast<int>(whole + 128.0f) & 1);
  return sign * magnitude;
}

// Coverage of [lo, hi] by a pixel of the given footprint centred at u.
inline float Inside(float u, float lo, float hi, float inverse_width) {
  return Clamp01(0.5f + std::min(u - lo, hi - u) * inverse_width);
}

// Reflectance of the scene along each ray of a row segment, the board drawn
// over what lies behind it wherever it is nearer. The hot loop of the
// simulator: a homography, a division and a few clamps per pixel.
void BoardRow(const float* ray_x, const float* ray_y, int count, const BoardRowParams& p, const float* behind,
              const float* behind_inverse_depth, float* out) {
  for (int i = 0; i < count; ++i) {
    const float x = ray_x[i];
    const float y = ray_y[i];
    const float a = p.g[0] * x + p.g[1] * y + p.g[2];
    const float b = p.g[3] * x + p.g[4] * y + p.g[5];
    const float c = p.g[6] * x + p.g[7] * y + p.g[8];
    // Rays that meet the board's plane behind the lens see only background.
    const bool in_front = c > 1e-9f;
    const float inverse_depth = 1.0f / std::max(c, 1e-9f);
    const float u = in_front ? std::clamp(a * inverse_depth, -100.0f, 100.0f) : -100.0f;
    const float v = in_front ? std::clamp(b * inverse_depth, -100.0f, 100.0f) : -100.0f;
    const float width = p.footprint * inverse_depth * std::sqrt(inverse_depth);
    const float inverse_width = 1.0f / std::max(width, 1e-4f);
    // The pattern's outer edge is no checker edge: there the board just turns white.
    const float checker_u = std::clamp(u, p.pattern_lo_u + 0.5f, p.pattern_hi_u - 0.5f);
    const float checker_v = std::clamp(v, p.pattern_lo_v + 0.5f, p.pattern_hi_v - 0.5f);
    const float dark =
        0.5f + 0.5f * CheckerWave(checker_u, inverse_width) * CheckerWave(checker_v, inverse_width);
    const float in_pattern = Inside(u, p.pattern_lo_u, p.pattern_hi_u, inverse_width) *
                             Inside(v, p.pattern_lo_v, p.pattern_hi_v, inverse_width);
    const float on_board = c > behind_inverse_depth[i]
                               ? Inside(u, p.margin_lo_u, p.margin_hi_u, inverse_width) *
                                     Inside(v, p.margin_lo_v, p.margin_hi_v, inverse_width)
                               : 0.0f;
    const float board = kWhite - (kWhite - kBlack) * in_pattern * dark;
    out[i] = behind[i] + (board - behind[i]) * on_board;
  }
}

// One row of the depth scene: the backdrop, and the board drawn over it
// between columns x0 and x1 wherever it is nearer.
void SceneRow(const SceneBackdrop& backdrop, int row, const float* ray_x, const float* ray_y, int width,
              const BoardRowParams& board, int x0, int x1, float* out) {
  std::memcpy(out, backdrop.Reflectance(row), static_cast<size_t>(width) * sizeof(float));
  if (x1 <= x0) return;
  BoardRow(ray_x + x0, ray_y + x0, x1 - x0, board, out + x0, backdrop.InverseDepth(row) + x0, out + x0);
}

inline uint8_t Saturate(float v) {
  return static_cast<uint8_t>(static_cast<int>(std::clamp(v + 0.5f, 0.0f, 255.0f)));
}

int BytesPerPixel(int32_t colour_mode) {
  switch (colour_mode) {
    case IS_CM_MONO8:
      return 1;
    case IS_CM_BGR24:
      return 3;
    default:
      return 4;
  }
}

}  // namespace

void BuildRayTable(const StereoSimCameraModel& camera, RayTable& table) {
  const size_t count = static_cast<size_t>(camera.width) * camera.height;
  table.camera = camera;
  table.x.resize(count);
  table.y.resize(count);
  const Distortion distortion{camera.k1, camera.k2, camera.p1, camera.p2};
  for (int row = 0; row < camera.height; ++row) {
    for (int col = 0; col < camera.width; ++col) {
      const cv::Point2d ray =
          Undistort({(col - camera.cx) / camera.fx, (row - camera.cy) / camera.fy}, distortion);
      const size_t i = static_cast<size_t>(row) * camera.width + col;
      table.x[i] = static_cast<float>(ray.x);
      table.y[i] = static_cast<float>(ray.y);
    }
  }
}

FrameRenderer::FrameRenderer(const SimConfig& config, uint32_t camera_id)
    : square_mm_(config.square_mm),
      source_(config.source),
      random_state_(0x9E3779B97F4A7C15ull * (camera_id + 1)),
      imaging_(config.imaging, config.square_mm, config.scene_speed) {
  if (source_ == ImageSource::kReplay) {
    replay_ = std::make_unique<ReplaySource>(config.replay_dir, camera_id, config.replay_fps);
    if (replay_->FrameCount() == 0) source_ = ImageSource::kMovingBoard;
  }
  std::mt19937 generator(camera_id);
  std::normal_distribution<float> gaussian(0.0f, static_cast<float>(config.noise_dn));
  noise_.resize(kNoiseTableSize + kMaxRowSamples);
  for (float& n : noise_) n = config.noise_dn > 0 ? gaussian(generator) : 0.0f;
}

FrameRenderer::~FrameRenderer() = default;

size_t FrameRenderer::NextRandom(size_t below) {
  // xorshift64: cheap, and good enough to pick where a row's noise starts.
  random_state_ ^= random_state_ << 13;
  random_state_ ^= random_state_ >> 7;
  random_state_ ^= random_state_ << 17;
  return static_cast<size_t>(random_state_ % below);
}

const float* FrameRenderer::NextNoise(size_t count) {
  return noise_.data() + NextRandom(noise_.size() - std::min(count, kMaxRowSamples));
}

const uint8_t* FrameRenderer::NextBackground(const SensorResponse& response, int width) {
  if (!(background_response_ == response)) {
    const size_t pixels = (kNoiseTableSize + kMaxRowSamples) / 4;
    std::vector<float> flat(pixels, kBackground);
    background_.resize(pixels * response.channels);
    ExposePixels(flat.data(), static_cast<int>(pixels), response, noise_.data(), background_.data());
    background_response_ = response;
  }
  const size_t room = background_.size() / response.channels - static_cast<size_t>(width);
  return background_.data() + NextRandom(room) * response.channels;
}

void FrameRenderer::Render(const FrameRequest& request) {
  if (source_ == ImageSource::kReplay && replay_->Copy(request)) return;
  RenderBoard(request);
}

FrameRenderer::Span FrameRenderer::BoardSpan(const FrameRequest& request,
                                             const cv::Matx33d& ray_to_board) const {
  // Trace the board's outer edge into the image; the board lies inside the
  // bounding box of that outline.
  const StereoSimCameraModel& cam = request.camera;
  const Span whole{0, cam.width, 0, cam.height};
  const cv::Matx33d board_to_ray = ray_to_board.inv();
  const Distortion distortion{cam.k1, cam.k2, cam.p1, cam.p2};
  const double lo_u = -1.0 - kMarginSquares, hi_u = kSquaresX - 1 + kMarginSquares;
  const double lo_v = -1.0 - kMarginSquares, hi_v = kSquaresY - 1 + kMarginSquares;
  constexpr int kSamplesPerEdge = 16;
  double min_x = 1e9, max_x = -1e9, min_y = 1e9, max_y = -1e9;
  for (int edge = 0; edge < 4; ++edge) {
    for (int i = 0; i < kSamplesPerEdge; ++i) {
      const double f = static_cast<double>(i) / kSamplesPerEdge;
      const double u = edge == 0   ? lo_u + f * (hi_u - lo_u)
                       : edge == 1 ? hi_u
                       : edge == 2 ? hi_u - f * (hi_u - lo_u)
                                   : lo_u;
      const double v = edge == 0   ? lo_v
                       : edge == 1 ? lo_v + f * (hi_v - lo_v)
                       : edge == 2 ? hi_v
                                   : hi_v - f * (hi_v - lo_v);
      const cv::Vec3d ray = board_to_ray * cv::Vec3d(u, v, 1.0);
      if (ray[2] < 1.0) return whole;  // board reaches behind the lens
      const cv::Point2d seen = Distort({ray[0] / ray[2], ray[1] / ray[2]}, distortion);
      const double px = seen.x * cam.fx + cam.cx;
      const double py = seen.y * cam.fy + cam.cy;
      min_x = std::min(min_x, px);
      max_x = std::max(max_x, px);
      min_y = std::min(min_y, py);
      max_y = std::max(max_y, py);
    }
  }
  // A few pixels of slack for the blurred edge and the curved sides.
  constexpr double kSlack = 4.0;
  auto clip = [](double v, int hi) { return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(hi))); };
  return {clip(min_x - kSlack, cam.width), clip(max_x + kSlack + 1, cam.width),
          clip(min_y - kSlack, cam.height), clip(max_y + kSlack + 1, cam.height)};
}

void FrameRenderer::RenderBoard(const FrameRequest& request) {
  const StereoSimCameraModel& cam = request.camera;
  const bool same_lens = rays_.camera.width == cam.width && rays_.camera.height == cam.height &&
                         rays_.camera.fx == cam.fx && rays_.camera.fy == cam.fy &&
                         rays_.camera.cx == cam.cx && rays_.camera.cy == cam.cy &&
                         rays_.camera.k1 == cam.k1 && rays_.camera.k2 == cam.k2 &&
                         rays_.camera.p1 == cam.p1 && rays_.camera.p2 == cam.p2;
  if (!same_lens) BuildRayTable(cam, rays_);
  reflectance_.resize(cam.width);
  // Behind the board: the scene's surfaces, or a plain background far away.
  const bool scene = source_ == ImageSource::kScene;
  if (scene) backdrop_.Prepare(cam, rays_.x.data(), rays_.y.data());
  backdrop_row_.assign(cam.width, kBackground);
  backdrop_inverse_depth_.assign(cam.width, 0.0f);

  const cv::Matx33d g = RayToBoardHomography(BoardPoseFor(source_, request.scene_time_s), cam, square_mm_);
  BoardRowParams params{};
  for (int i = 0; i < 9; ++i) params.g[i] = static_cast<float>(g.val[i]);
  params.footprint = static_cast<float>(std::sqrt(std::abs(cv::determinant(g)) / (cam.fx * cam.fy)));
  params.pattern_lo_u = -1.0f;
  params.pattern_hi_u = kSquaresX - 1.0f;
  params.pattern_lo_v = -1.0f;
  params.pattern_hi_v = kSquaresY - 1.0f;
  params.margin_lo_u = static_cast<float>(-1.0 - kMarginSquares);
  params.margin_hi_u = static_cast<float>(kSquaresX - 1 + kMarginSquares);
  params.margin_lo_v = static_cast<float>(-1.0 - kMarginSquares);
  params.margin_hi_v = static_cast<float>(kSquaresY - 1 + kMarginSquares);

  const Span span = BoardSpan(request, g);
  const SensorResponse response = ResponseFor(request);
  const int channels = response.channels;
  for (int row = 0; row < cam.height; ++row) {
    uint8_t* out = request.pixels + static_cast<ptrdiff_t>(row) * request.pitch;
    if (scene) {
      const size_t first = static_cast<size_t>(row) * cam.width;
      const bool crosses_board = row >= span.y0 && row < span.y1;
      SceneRow(backdrop_, row, rays_.x.data() + first, rays_.y.data() + first, cam.width, params,
               crosses_board ? span.x0 : 0, crosses_board ? span.x1 : 0, reflectance_.data());
      ExposePixels(reflectance_.data(), cam.width, response,
                   NextNoise(static_cast<size_t>(cam.width) * channels), out);
      continue;
    }
    const uint8_t* background = NextBackground(response, cam.width);
    if (row < span.y0 || row >= span.y1 || span.x1 <= span.x0) {
      std::memcpy(out, background, static_cast<size_t>(cam.width) * channels);
      continue;
    }
    const int count = span.x1 - span.x0;
    const size_t first = static_cast<size_t>(row) * cam.width + span.x0;
    BoardRow(rays_.x.data() + first, rays_.y.data() + first, count, params, backdrop_row_.data(),
             backdrop_inverse_depth_.data(), reflectance_.data());
    imaging_.FadePrint(reflectance_.data(), count, kBackground);
    std::memcpy(out, background, static_cast<size_t>(span.x0) * channels);
    const ptrdiff_t board_start = static_cast<ptrdiff_t>(span.x0) * channels;
    const ptrdiff_t board_end = static_cast<ptrdiff_t>(span.x1) * channels;
    ExposePixels(reflectance_.data(), count, response, NextNoise(static_cast<size_t>(count) * channels),
                 out + board_start);
    std::memcpy(out + board_end, background + board_end, static_cast<size_t>(cam.width - span.x1) * channels);
  }
  imaging_.Finish(request, source_ == ImageSource::kStillBoard ? 0.0 : request.scene_time_s,
                  source_ == ImageSource::kMovingBoard);
}

SensorResponse ResponseFor(const FrameRequest& request) {
  SensorResponse response;
  response.channels = BytesPerPixel(request.colour_mode);
  const float gain = static_cast<float>(request.exposure_ms) * kDnPerMs * request.contrast / 256.0f;
  for (int c = 0; c < 3; ++c) response.gain[c] = response.channels == 1 ? gain : gain * kChannelGain[c];
  response.offset = (request.brightness - 128) * 0.5f;
  return response;
}

void ExposePixels(const float* reflectance, int count, const SensorResponse& response, const float* noise,
                  uint8_t* out) {
  const int channels = response.channels;
  if (channels == 1) {
    for (int x = 0; x < count; ++x)
      out[x] = Saturate(reflectance[x] * response.gain[0] + response.offset + noise[x]);
    return;
  }
  for (int x = 0; x < count; ++x) {
    uint8_t* pixel = out + static_cast<ptrdiff_t>(x) * channels;
    const float* pixel_noise = noise + static_cast<ptrdiff_t>(x) * channels;
    for (int c = 0; c < 3; ++c) {
      pixel[c] = Saturate(reflectance[x] * response.gain[c] + response.offset + pixel_noise[c]);
    }
    if (channels == 4) pixel[3] = 0;
  }
}

}  // namespace sim
