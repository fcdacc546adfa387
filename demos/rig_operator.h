#pragma once

// What an operator does at the workbench with the simulated rig, step by
// step through the real windows: shared by the demos and the application
// tests, so both show the same workflow.

#include <chrono>
#include <functional>
#include <opencv2/core.hpp>
#include <string>

#include "Video/vidclass/vidclass.h"
#include "filters/stereo_calibration.h"

class QWidget;
class TDisparityFilter;
class TDistortFilter;
class TFoDistortSetup;
class TForm1;

class QPushButton;

namespace rig_operator {

class SimulatedRig;

// Runs the event loop until the condition holds; false on time-out.
bool ProcessEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Runs the event loop for this long.
void ProcessEventsFor(std::chrono::milliseconds duration);

// Picks the first and second simulated camera (or the entries of these
// device ids) in the two lists and presses "Init" below both; false when
// they did not open.
bool SetUpBothCameras(TForm1& form, int first_id = kUEyeDeviceIdBase + 1,
                      int second_id = kUEyeDeviceIdBase + 2);

// Drops the panel on the filter list, as the end of a drag from it.
void DropPanel(TForm1& form, QWidget* panel);
// Clicks a button that shows a file dialog, types `path` into it and
// presses its button, as an operator picks a file.
void ClickWithPath(QPushButton* button, const std::string& path);
// Double-clicks the filter list's entry.
void DoubleClickEntry(TForm1& form, int row);
// The distortion filter of an entry and its dialog; null for another kind.
TDistortFilter* DistortFilterAt(TForm1& form, int row);
TFoDistortSetup* DialogOf(TDistortFilter& filter);
// Drops a distortion filter at the end of the chain and opens its dialog
// with a double click; both null when either did not come.
struct DistortionSetup {
  TDistortFilter* Filter = nullptr;
  TFoDistortSetup* Dialog = nullptr;
};
DistortionSetup AddDistortionFilter(TForm1& form);

// Waits for the chessboard search of a pair processed from now on; true
// when it found the whole board in both images ("Found 48 48").
bool WaitForBoardSearch(TFoDistortSetup& dialog, std::chrono::milliseconds timeout);

// With the board held still: poses the board at scene times 0, 1.37,
// 2.74, ... and presses "Push" whenever the search finds it in both images,
// until that many views are pushed; the number pushed.
int PushStillPoses(SimulatedRig& rig, TFoDistortSetup& dialog, int views);
// The same for a scene whose moment `hold` sets.
int PushStillPoses(const std::function<void(double)>& hold, TFoDistortSetup& dialog, int views);

// With the board held still: poses it at scene times 0, every_s, 2 every_s,
// ... below last_s, each held until `done` or for `hold`, as an operator
// moves it along and holds it; the scene time of the pose at which `done`
// held, negative when none.
double HoldPosesUntil(const SimulatedRig& rig, double every_s, std::chrono::milliseconds hold,
                      const std::function<bool()>& done, double last_s = 120);

// The disparity filter of an entry; null for another kind.
TDisparityFilter* DisparityFilterAt(TForm1& form, int row);

// Each of the dialog's 25 number fields as "name=text", one a line.
std::string FieldTexts(const TFoDistortSetup& dialog);

// The stand-in driver's rig queries, through the library the program loaded.
class SimulatedRig {
 public:
  SimulatedRig();
  ~SimulatedRig();
  SimulatedRig(const SimulatedRig&) = delete;
  SimulatedRig& operator=(const SimulatedRig&) = delete;

  bool Loaded() const { return library_ != nullptr; }
  // Holds the board at that moment (with STEREO_SIM_SCENE_SPEED=0).
  void SetSceneTime(double seconds) const;
  bool WriteRigFile(const std::string& path, int width, int height) const;
  // The rig's true model of cameras 1 and 2 at that image size, rectified
  // as "Stereo Calibrate" would; lengths in mm.
  TStereoCalibration TrueCalibration(cv::Size size) const;
  // Depth in mm along camera n's axis of every pixel at that size (CV_32F,
  // 0 where nothing is seen) at the scene's moment; empty when the library
  // cannot tell.
  cv::Mat DepthTruth(int camera, cv::Size size) const;
  // The true disparity of every pixel of the left image rectified with that
  // calibration (CV_32F, NaN where one camera alone sees it); empty when the
  // library cannot tell.
  cv::Mat DisparityTruth(const TStereoCalibration& calibration) const;

 private:
  void* library_ = nullptr;
};

}  // namespace rig_operator
