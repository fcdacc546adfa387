#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "drivers/board_scene.h"
#include "drivers/sim_config.h"
#include "drivers/sim_driver_api.h"

namespace sim {

// The textured scene with known depth (STEREO_SIM_SOURCE=scene), in camera 1
// coordinates (mm): a wall facing the rig, a slanted panel nearer the
// cameras on the left, and the chessboard in front of both.
inline constexpr double kWallDistance_mm = 2000.0;

// From this scene time on, the scene's board follows its path pushed back to
// 1.2 - 1.4 m, where a disparity search of 64 pixels reaches it; before it,
// the board moves exactly as the board source moves it, near enough for
// calibration.
inline constexpr double kFarBoardFrom_s = 1000.0;

// A flat rectangle: origin plus s and t along two orthonormal axes, within
// the extents (mm); infinite extents make an unbounded plane.
struct ScenePlane {
  cv::Vec3d origin;
  cv::Vec3d axis_s;
  cv::Vec3d axis_t;
  double s_lo, s_hi, t_lo, t_hi;
};

// Two parts of the wall such as a real room has, in wall coordinates (mm,
// x right and y down from the point straight ahead of camera 1): a plain
// patch without any texture, and upright stripes that repeat every
// kStripePeriod_mm along the rows. Both lie where the cameras see the wall
// at every pose of the far board.
inline const cv::Rect2d kPlainPatch_mm(600.0, -740.0, 240.0, 240.0);
inline const cv::Rect2d kStripesPatch_mm(520.0, 300.0, 420.0, 380.0);
inline constexpr double kStripePeriod_mm = 46.0;

// The wall's reflectance at a point of it (mm).
float WallReflectance(cv::Point2d at);

// The board's pose for a source at a scene time; the still board holds time 0.
BoardPose BoardPoseFor(ImageSource source, double scene_time_s);
// The board's outline (margin included) as a plane.
ScenePlane BoardPlane(const BoardPose& pose, double square_mm);
// Every surface the source shows at a scene time; nothing for replayed pairs.
std::vector<ScenePlane> SceneSurfacesAt(ImageSource source, double scene_time_s, double square_mm);

// Where a ray meets a surface first: the distance along its direction (in
// units of the direction's length), which surface, and where on it (mm).
struct SurfaceHit {
  double distance;
  size_t surface;
  cv::Point2d at;
};
// The first surface a ray from `origin` along `direction` meets, both in
// camera 1 coordinates.
std::optional<SurfaceHit> FirstHit(const std::vector<ScenePlane>& surfaces, const cv::Vec3d& origin,
                                   const cv::Vec3d& direction);

// The wall and the panel as one camera sees them: what lies behind the
// board, pixel by pixel. They never move, so a camera traces them once.
class SceneBackdrop {
 public:
  // Traces every ray of the camera (normalised (x, y, 1), row by row) unless
  // this very camera was traced last.
  void Prepare(const StereoSimCameraModel& camera, const float* ray_x, const float* ray_y);
  // Reflectance and inverse depth (1/mm) of the nearest surface along each ray of a row.
  const float* Reflectance(int row) const {
    return reflectance_.data() + static_cast<size_t>(row) * camera_.width;
  }
  const float* InverseDepth(int row) const {
    return inverse_depth_.data() + static_cast<size_t>(row) * camera_.width;
  }

 private:
  StereoSimCameraModel camera_{};
  std::vector<float> reflectance_;
  std::vector<float> inverse_depth_;
};

}  // namespace sim
