#include "drivers/depth_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

#include "drivers/lens.h"

namespace sim {
namespace {

constexpr double kUnbounded = std::numeric_limits<double>::infinity();

// The panel: 760 x 1100 mm, turned about 31 degrees so that its right edge
// comes nearer, and tipped back a little; 1.17 to 1.63 m away.
constexpr double kPanelHalfWidth_mm = 380.0;
constexpr double kPanelHalfHeight_mm = 550.0;
const cv::Vec3d kPanelCentre_mm(-480.0, 40.0, 1400.0);
const cv::Vec3d kPanelTilt(0.06, 0.55, 0.0);

// Texture reflectance: mean and swing of the noise.
constexpr float kTextureMean = 0.45f;
constexpr float kTextureSwing = 0.6f;
constexpr float kNothing = 0.32f;  // a ray that meets no surface

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return h;
}

// Value noise baked into a texture: octaves of hashed lattice values, each
// eased between lattice points, so the texture is rich, never repeats within
// a surface and is smooth at the scale of a pixel: block matching finds it to
// a fraction of a pixel. Texel (0, 0) sits at the surface's origin; both
// sizes are powers of two and the texture wraps.
class NoiseTexture {
 public:
  NoiseTexture(int columns, int rows, float texel_mm, uint32_t seed)
      : columns_(columns), rows_(rows), inverse_texel_(1.0f / texel_mm), values_(size_t(columns) * rows) {
    // Lattice spacing in texels and weight of each octave; the finest spans
    // about four pixels where the surface stands.
    constexpr int kCells[] = {4, 8, 16, 32};
    constexpr float kWeights[] = {0.5f, 0.3f, 0.25f, 0.2f};
    for (int row = 0; row < rows; ++row) {
      for (int col = 0; col < columns; ++col) {
        float sum = 0.0f;
        for (int octave = 0; octave < 4; ++octave) {
          sum += kWeights[octave] * Octave(col, row, kCells[octave], seed + 977u * octave);
        }
        values_[size_t(row) * columns + col] = std::clamp(kTextureMean + kTextureSwing * sum, 0.04f, 0.9f);
      }
    }
  }

  // Bilinear sample at surface coordinates (mm).
  float At(float s_mm, float t_mm) const {
    // Shifted to positive texel numbers by a whole number of textures, small
    // enough to keep a float's fraction fine.
    constexpr float kShift = 4096.0f;
    const float fs = std::clamp(s_mm * inverse_texel_, 1.0f - kShift, kShift) + kShift;
    const float ft = std::clamp(t_mm * inverse_texel_, 1.0f - kShift, kShift) + kShift;
    const int is = static_cast<int>(fs);
    const int it = static_cast<int>(ft);
    const float ws = fs - static_cast<float>(is);
    const float wt = ft - static_cast<float>(it);
    const int c0 = is & (columns_ - 1), c1 = (is + 1) & (columns_ - 1);
    const float* r0 = values_.data() + size_t(it & (rows_ - 1)) * columns_;
    const float* r1 = values_.data() + size_t((it + 1) & (rows_ - 1)) * columns_;
    const float top = r0[c0] + (r0[c1] - r0[c0]) * ws;
    const float bottom = r1[c0] + (r1[c1] - r1[c0]) * ws;
    return top + (bottom - top) * wt;
  }

 private:
  // One octave at a texel, -0.5 to 0.5; its lattice wraps with the texture.
  float Octave(int col, int row, int cell, uint32_t seed) const {
    const int lattice_columns = columns_ / cell, lattice_rows = rows_ / cell;
    const int lc = col / cell, lr = row / cell;
    auto eased = [](float f) { return f * f * (3.0f - 2.0f * f); };
    const float fx = eased(static_cast<float>(col % cell) / cell);
    const float fy = eased(static_cast<float>(row % cell) / cell);
    auto lattice = [&](int c, int r) {
      const uint32_t h = Hash(uint32_t(c % lattice_columns), uint32_t(r % lattice_rows), seed);
      return static_cast<float>(h >> 8) * (1.0f / 16777216.0f) - 0.5f;
    };
    const float top = lattice(lc, lr) + (lattice(lc + 1, lr) - lattice(lc, lr)) * fx;
    const float bottom = lattice(lc, lr + 1) + (lattice(lc + 1, lr + 1) - lattice(lc, lr + 1)) * fx;
    return top + (bottom - top) * fy;
  }

  int columns_;
  int rows_;
  float inverse_texel_;
  std::vector<float> values_;
};

// 4 mm texels: a pixel at 2 m covers 3.8 mm. The wall's texture spans 4 m,
// wider than both cameras' view of it.
const NoiseTexture& WallTexture() {
  static const NoiseTexture texture(1024, 1024, 4.0f, 11u);
  return texture;
}

// 3 mm texels, 768 x 1536 mm: more than the panel, so it never repeats on it.
const NoiseTexture& PanelTexture() {
  static const NoiseTexture texture(256, 512, 3.0f, 29u);
  return texture;
}

constexpr float kPlainReflectance = 0.55f;
constexpr float kStripeMean = 0.45f;
constexpr float kStripeSwing = 0.3f;

ScenePlane Wall() {
  return {
      {0.0, 0.0, kWallDistance_mm}, {1, 0, 0}, {0, 1, 0}, -kUnbounded, kUnbounded, -kUnbounded, kUnbounded};
}

ScenePlane Panel() {
  const cv::Matx33d turn = RotationFromVector(kPanelTilt);
  return {kPanelCentre_mm,
          {turn(0, 0), turn(1, 0), turn(2, 0)},
          {turn(0, 1), turn(1, 1), turn(2, 1)},
          -kPanelHalfWidth_mm,
          kPanelHalfWidth_mm,
          -kPanelHalfHeight_mm,
          kPanelHalfHeight_mm};
}

bool SameCamera(const StereoSimCameraModel& a, const StereoSimCameraModel& b) {
  const auto fields = [](const StereoSimCameraModel& m) {
    return std::tie(m.width, m.height, m.fx, m.fy, m.cx, m.cy, m.k1, m.k2, m.p1, m.p2);
  };
  return fields(a) == fields(b) && std::equal(a.rotation, a.rotation + 3, b.rotation) &&
         std::equal(a.translation, a.translation + 3, b.translation);
}

// The board's path 450 - 850 mm away, pushed back to 1215 - 1385 mm along the
// line of sight from camera 1, so it stays in view and keeps its motion.
BoardPose FartherAway(BoardPose pose) {
  constexpr double kNear_mm = 650.0, kFar_mm = 1300.0, kDepthSwingScale = 0.5;
  const double depth = pose.centre_mm[2];
  pose.centre_mm *= (kFar_mm + kDepthSwingScale * (depth - kNear_mm)) / depth;
  return pose;
}

}  // namespace

float WallReflectance(cv::Point2d at) {
  if (kPlainPatch_mm.contains(at)) return kPlainReflectance;
  if (kStripesPatch_mm.contains(at)) {
    return kStripeMean + kStripeSwing * static_cast<float>(std::sin(2 * CV_PI * at.x / kStripePeriod_mm));
  }
  return WallTexture().At(static_cast<float>(at.x), static_cast<float>(at.y));
}

BoardPose BoardPoseFor(ImageSource source, double scene_time_s) {
  switch (source) {
    case ImageSource::kStillBoard:
      return BoardPoseAt(0.0);
    case ImageSource::kScene:
      return scene_time_s >= kFarBoardFrom_s ? FartherAway(BoardPoseAt(scene_time_s))
                                             : BoardPoseAt(scene_time_s);
    default:
      return BoardPoseAt(scene_time_s);
  }
}

ScenePlane BoardPlane(const BoardPose& pose, double square_mm) {
  const cv::Matx33d& r = pose.rotation;
  return {BoardOrigin(pose, square_mm),
          {r(0, 0), r(1, 0), r(2, 0)},
          {r(0, 1), r(1, 1), r(2, 1)},
          (-1.0 - kMarginSquares) * square_mm,
          (kSquaresX - 1 + kMarginSquares) * square_mm,
          (-1.0 - kMarginSquares) * square_mm,
          (kSquaresY - 1 + kMarginSquares) * square_mm};
}

std::vector<ScenePlane> SceneSurfacesAt(ImageSource source, double scene_time_s, double square_mm) {
  if (source == ImageSource::kReplay) return {};
  const ScenePlane board = BoardPlane(BoardPoseFor(source, scene_time_s), square_mm);
  if (source == ImageSource::kScene) return {Wall(), Panel(), board};
  return {board};
}

std::optional<SurfaceHit> FirstHit(const std::vector<ScenePlane>& surfaces, const cv::Vec3d& origin,
                                   const cv::Vec3d& direction) {
  std::optional<SurfaceHit> nearest;
  for (size_t i = 0; i < surfaces.size(); ++i) {
    const ScenePlane& plane = surfaces[i];
    const cv::Vec3d normal = plane.axis_s.cross(plane.axis_t);
    const double approach = normal.dot(direction);
    if (std::abs(approach) < 1e-12) continue;
    const double distance = normal.dot(plane.origin - origin) / approach;
    if (distance <= 0.0 || (nearest && distance >= nearest->distance)) continue;
    const cv::Vec3d local = origin + distance * direction - plane.origin;
    const cv::Point2d at(local.dot(plane.axis_s), local.dot(plane.axis_t));
    if (at.x >= plane.s_lo && at.x <= plane.s_hi && at.y >= plane.t_lo && at.y <= plane.t_hi) {
      nearest = SurfaceHit{distance, i, at};
    }
  }
  return nearest;
}

void SceneBackdrop::Prepare(const StereoSimCameraModel& camera, const float* ray_x, const float* ray_y) {
  if (!reflectance_.empty() && SameCamera(camera, camera_)) return;
  camera_ = camera;
  const size_t count = static_cast<size_t>(camera.width) * camera.height;
  reflectance_.resize(count);
  inverse_depth_.resize(count);
  const cv::Matx33d to_camera =
      RotationFromVector({camera.rotation[0], camera.rotation[1], camera.rotation[2]});
  const cv::Vec3d centre = -(to_camera.t() * cv::Vec3d(camera.translation));
  const std::vector<ScenePlane> surfaces{Wall(), Panel()};
  for (size_t i = 0; i < count; ++i) {
    // Rays are (x, y, 1) in the camera, so the distance along one is its depth.
    const std::optional<SurfaceHit> hit =
        FirstHit(surfaces, centre, to_camera.t() * cv::Vec3d(ray_x[i], ray_y[i], 1.0));
    const auto reflectance = [&hit] {
      return hit->surface == 0 ? WallReflectance(hit->at) : PanelTexture().At(hit->at.x, hit->at.y);
    };
    reflectance_[i] = hit ? reflectance() : kNothing;
    inverse_depth_[i] = hit ? static_cast<float>(1.0 / hit->distance) : 0.0f;
  }
}

}  // namespace sim
