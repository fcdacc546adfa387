#include "drivers/imaging_effects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <string>

#include "drivers/board_scene.h"
#include "drivers/frame_renderer.h"
#include "drivers/sim_config.h"

namespace sim {
namespace {

void ReadNumber(const std::function<const char*(const char*)>& env, const char* name, double& out, double min,
                double max) {
  const char* value = env(name);
  if (value == nullptr) return;
  const auto number = ParseNumberList(value, 1);
  if (number && (*number)[0] >= min && (*number)[0] <= max) {
    out = (*number)[0];
  } else {
    std::fprintf(stderr, "stereo sim: ignoring %s=\"%s\"\n", name, value);
  }
}

}  // namespace

ImagingSettings HarshImaging() {
  ImagingSettings harsh;
  harsh.vignetting = 0.55;
  harsh.gradient = 0.5;
  harsh.focus_mm = 600.0;
  harsh.defocus_px = 0.5;
  harsh.motion_blur = true;
  harsh.board_contrast = 0.45;
  return harsh;
}

ImagingSettings ReadImagingSettings(const std::function<const char*(const char*)>& env) {
  ImagingSettings settings;
  if (const char* set = env("STEREO_SIM_IMAGING")) {
    if (std::string(set) == "harsh") {
      settings = HarshImaging();
    } else if (std::string(set) != "default") {
      std::fprintf(stderr, "stereo sim: ignoring STEREO_SIM_IMAGING=\"%s\"\n", set);
    }
  }
  ReadNumber(env, "STEREO_SIM_VIGNETTING", settings.vignetting, 0.05, 1.0);
  ReadNumber(env, "STEREO_SIM_GRADIENT", settings.gradient, 0.0, 1.5);
  ReadNumber(env, "STEREO_SIM_FOCUS_MM", settings.focus_mm, 0.0, 100000.0);
  ReadNumber(env, "STEREO_SIM_DEFOCUS", settings.defocus_px, 0.0, 20.0);
  ReadNumber(env, "STEREO_SIM_BOARD_CONTRAST", settings.board_contrast, 0.02, 1.0);
  double motion = settings.motion_blur ? 1 : 0;
  ReadNumber(env, "STEREO_SIM_MOTION_BLUR", motion, 0, 1);
  settings.motion_blur = motion != 0;
  return settings;
}

double DefocusSigma(const ImagingSettings& settings, double distance_mm) {
  if (settings.focus_mm <= 0) return 0;
  return settings.defocus_px * std::abs(distance_mm - settings.focus_mm) / 100.0;
}

cv::Mat MotionKernel(cv::Point2d displacement) {
  const double length = std::hypot(displacement.x, displacement.y);
  if (length < 0.5) return {};
  const int half = static_cast<int>(std::ceil(length / 2)) + 1;
  cv::Mat kernel = cv::Mat::zeros(2 * half + 1, 2 * half + 1, CV_32F);
  // Samples along the path, each shared among its four nearest pixels.
  const int samples = static_cast<int>(std::ceil(length * 4)) + 1;
  for (int i = 0; i < samples; ++i) {
    const double f = static_cast<double>(i) / (samples - 1) - 0.5;
    const double x = half + f * displacement.x, y = half + f * displacement.y;
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
    kernel.at<float>(y0, x0) += (1 - fx) * (1 - fy);
    kernel.at<float>(y0, x0 + 1) += fx * (1 - fy);
    kernel.at<float>(y0 + 1, x0) += (1 - fx) * fy;
    kernel.at<float>(y0 + 1, x0 + 1) += fx * fy;
  }
  return kernel / cv::sum(kernel)[0];
}

ImagingEffects::ImagingEffects(const ImagingSettings& settings, double square_mm, double scene_speed)
    : settings_(settings), square_mm_(square_mm), scene_speed_(scene_speed) {}

void ImagingEffects::FadePrint(float* reflectance, int count, float surroundings) const {
  if (settings_.board_contrast == 1.0) return;
  const float share = static_cast<float>(settings_.board_contrast);
  for (int i = 0; i < count; ++i) reflectance[i] = surroundings + (reflectance[i] - surroundings) * share;
}

void ImagingEffects::Finish(const FrameRequest& request, double scene_time_s, bool board_moves) {
  if (!Active()) return;
  const StereoSimCameraModel& cam = request.camera;
  cv::Mat frame(cam.height, cam.width, CV_8UC(ResponseFor(request).channels), request.pixels,
                static_cast<size_t>(request.pitch));
  const BoardPose now = BoardPoseAt(scene_time_s);
  const cv::Point2d centre((kSquaresX - 2) / 2.0, (kSquaresY - 2) / 2.0);
  double depth_mm = 0;
  BoardPointInImage(now, cam, square_mm_, centre, &depth_mm);
  const double sigma = depth_mm > 0 ? DefocusSigma(settings_, depth_mm) : 0.0;
  if (sigma > 0.05) cv::GaussianBlur(frame, frame, {0, 0}, sigma);
  if (settings_.motion_blur && board_moves && scene_speed_ > 0) {
    const double exposure_s = request.exposure_ms / 1000.0 * scene_speed_;
    const BoardPose later = BoardPoseAt(scene_time_s + exposure_s);
    // The mean path of the pattern's outer corners during the exposure.
    cv::Point2d path(0, 0);
    for (const double u : {-1.0, kSquaresX - 1.0}) {
      for (const double v : {-1.0, kSquaresY - 1.0}) {
        path += BoardPointInImage(later, cam, square_mm_, {u, v}) -
                BoardPointInImage(now, cam, square_mm_, {u, v});
      }
    }
    const cv::Mat kernel = MotionKernel(path * 0.25);
    if (!kernel.empty()) cv::filter2D(frame, frame, -1, kernel);
  }
  Shade(frame);
}

void ImagingEffects::Shade(cv::Mat& frame) {
  if (settings_.vignetting == 1.0 && settings_.gradient == 0.0) return;
  if (gain_.size() != frame.size()) {
    gain_.create(frame.size(), CV_32F);
    const double half_w = frame.cols / 2.0, half_h = frame.rows / 2.0;
    const double corner = half_w * half_w + half_h * half_h;
    for (int y = 0; y < frame.rows; ++y) {
      for (int x = 0; x < frame.cols; ++x) {
        const double r2 = ((x - half_w) * (x - half_w) + (y - half_h) * (y - half_h)) / corner;
        const double along =
            (static_cast<double>(x) / frame.cols + static_cast<double>(y) / frame.rows) / 2.0;
        gain_.at<float>(y, x) = static_cast<float>((1.0 - (1.0 - settings_.vignetting) * r2) *
                                                   (1.0 + settings_.gradient * (along - 0.5)));
      }
    }
  }
  const int channels = frame.channels();
  for (int y = 0; y < frame.rows; ++y) {
    uint8_t* pixels = frame.ptr<uint8_t>(y);
    const float* gains = gain_.ptr<float>(y);
    for (int x = 0; x < frame.cols; ++x) {
      for (int c = 0; c < std::min(channels, 3); ++c) {
        uint8_t& value = pixels[x * channels + c];
        value = static_cast<uint8_t>(std::min(255.0f, value * gains[x] + 0.5f));
      }
    }
  }
}

}  // namespace sim
