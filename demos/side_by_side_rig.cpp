#include "demos/side_by_side_rig.h"

#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>

#include "app/setdistort.h"
#include "demos/rig_operator.h"
#include "drivers/frame_renderer.h"
#include "drivers/sim_config.h"

namespace rig_operator {
namespace {

constexpr int kEyeWidth = 640;
constexpr int kEyeHeight = 480;
// Frames a second the source reads the picture at.
constexpr int kFramesPerSecond = 10;
constexpr double kPoseStep_s = 1.37;

}  // namespace

SideBySideRig::SideBySideRig(std::string folder)
    : folder_(std::move(folder)),
      config_(std::make_unique<sim::SimConfig>(sim::ReadConfigFromEnvironment())) {
  for (uint32_t id = 1; id <= 2; ++id)
    renderers_.push_back(std::make_unique<sim::FrameRenderer>(*config_, id));
}

SideBySideRig::~SideBySideRig() = default;

std::string SideBySideRig::SourceLine() const {
  return "side-by-side: multifilesrc location=" + folder_ +
         "/frame.png caps=image/png,framerate=" + std::to_string(kFramesPerSecond) +
         "/1 ! pngdec ! videoconvert ! capsfilter caps=video/x-raw,format=BGR,width=" +
         std::to_string(2 * kEyeWidth) + ",height=" + std::to_string(kEyeHeight);
}

cv::Size SideBySideRig::EyeSize() const { return {kEyeWidth, kEyeHeight}; }

bool SideBySideRig::ShowPose(double scene_time_s) {
  cv::Mat picture(kEyeHeight, 2 * kEyeWidth, CV_8UC3);
  for (uint32_t id = 1; id <= 2; ++id) {
    cv::Mat eye = picture.colRange((id - 1) * kEyeWidth, id * kEyeWidth);
    sim::FrameRequest request;
    request.camera = sim::ModelForImage(config_->cameras[id - 1], kEyeWidth, kEyeHeight);
    request.pixels = eye.data;
    request.pitch = static_cast<int32_t>(eye.step);
    request.width = kEyeWidth;
    request.height = kEyeHeight;
    request.scene_time_s = scene_time_s;
    renderers_[id - 1]->Render(request);
  }
  // Renamed into place, so the source never reads half a picture.
  const std::string next = folder_ + "/next.png";
  if (!cv::imwrite(next, picture)) return false;
  return std::rename(next.c_str(), (folder_ + "/frame.png").c_str()) == 0;
}

int PushSideBySidePoses(SideBySideRig& rig, TFoDistortSetup& dialog, int views) {
  int pushed = 0;
  for (int pose = 0; pushed < views && pose < 3 * views; ++pose) {
    if (!rig.ShowPose(pose * kPoseStep_s)) return pushed;
    // Frames read before the new picture may still be on their way.
    ProcessEventsFor(std::chrono::milliseconds(3000 / kFramesPerSecond));
    WaitForBoardSearch(dialog, std::chrono::seconds(5));
    if (!WaitForBoardSearch(dialog, std::chrono::seconds(5))) continue;
    dialog.findChild<QPushButton*>("BuPush")->click();
    ++pushed;
  }
  return pushed;
}

}  // namespace rig_operator
