#pragma once

// What real optics, light and print do to the rendered board: vignetting, an
// uneven light across the scene, defocus away from the focus distance, blur
// of the board's motion during the exposure, and a grey-on-grey print. Every
// effect is off by default, so the rig renders as it always did.

#include <functional>
#include <opencv2/core.hpp>

#include "drivers/sim_driver_api.h"

namespace sim {

struct FrameRequest;

struct ImagingSettings {
  // Brightness at the image corners as a share of the centre's (1: none).
  double vignetting = 1.0;
  // Change of the light across the scene, from one corner to the opposite
  // one, as a share of the mean (0: even light).
  double gradient = 0.0;
  // Distance the lens is focused at in mm (0: everything sharp), and the
  // blur (Gaussian sigma in pixels) of a board 100 mm off that distance.
  double focus_mm = 0.0;
  double defocus_px = 0.0;
  // The board's motion during the exposure smears it.
  bool motion_blur = false;
  // Share of the printed board's contrast against its surroundings (1: as
  // printed; smaller: grey on grey).
  double board_contrast = 1.0;
  bool operator==(const ImagingSettings&) const = default;
};

// The realistic set that STEREO_SIM_IMAGING=harsh turns on.
ImagingSettings HarshImaging();

// STEREO_SIM_IMAGING and the single effects' variables over it; a value
// that does not parse is ignored with a line on standard error.
ImagingSettings ReadImagingSettings(const std::function<const char*(const char*)>& env);

// Gaussian sigma in pixels of a board at that distance.
double DefocusSigma(const ImagingSettings& settings, double distance_mm);

// A normalised line kernel along the displacement (pixels), one pixel wide;
// empty when the displacement is below half a pixel.
cv::Mat MotionKernel(cv::Point2d displacement);

class ImagingEffects {
 public:
  ImagingEffects(const ImagingSettings& settings, double square_mm, double scene_speed);

  bool Active() const { return !(settings_ == ImagingSettings{}); }
  // Pulls the board's reflectances toward its surroundings'.
  void FadePrint(float* reflectance, int count, float surroundings) const;
  // Blurs and shades a rendered frame of the board at that scene time.
  void Finish(const FrameRequest& request, double scene_time_s, bool board_moves);

 private:
  void Shade(cv::Mat& frame);

  ImagingSettings settings_;
  double square_mm_;
  double scene_speed_;
  cv::Mat gain_;  // per pixel, CV_32F, made once per image size
};

}  // namespace sim
