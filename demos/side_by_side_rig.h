#pragma once

// The simulated rig seen through a stereo camera that is one capture device:
// both cameras' views of one board pose rendered side by side into one
// picture, which a GStreamer source reads over and over as its frames.

#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

class TFoDistortSetup;

namespace sim {
class FrameRenderer;
struct SimConfig;
}  // namespace sim

namespace rig_operator {

class SideBySideRig {
 public:
  // Pictures go into that folder, which must exist.
  explicit SideBySideRig(std::string folder);
  ~SideBySideRig();
  SideBySideRig(const SideBySideRig&) = delete;
  SideBySideRig& operator=(const SideBySideRig&) = delete;

  // The STEREO_CAPTURE_SOURCES line of the stereo camera.
  std::string SourceLine() const;
  // Each eye's image size.
  cv::Size EyeSize() const;
  // The board at that scene time, seen by both cameras, from the next frame
  // on; the picture is replaced whole. False when it could not be written.
  bool ShowPose(double scene_time_s);

 private:
  std::string folder_;
  std::unique_ptr<sim::SimConfig> config_;
  std::vector<std::unique_ptr<sim::FrameRenderer>> renderers_;
};

// Shows the poses at scene times 0, 1.37, 2.74, ... and presses "Push"
// whenever the search finds the board in both eyes, until that many views
// are pushed; the number pushed.
int PushSideBySidePoses(SideBySideRig& rig, TFoDistortSetup& dialog, int views);

}  // namespace rig_operator
