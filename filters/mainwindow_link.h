#pragma once

#include <opencv2/core/types_c.h>

#include <memory>
#include <string>

class TDisparityFilter;
class TDisparitySetupLink;
class TDistortFilter;
class TDistortSetupLink;
struct TStereoCalibration;
class TVidFilter;

// What a filter reaches of the main window: the current input frames, the log
// memo, the check marks of the filter list, and the making of a set-up
// dialog. The main window implements it.
class TMainWindowLink {
 public:
  virtual ~TMainWindowLink() = default;
  virtual IplImage* CurrentLeftImage() const = 0;
  virtual IplImage* CurrentRightImage() const = 0;
  virtual void AppendLog(const std::string& line) = 0;
  // Ticks or unticks every filter-list entry whose object is this filter.
  virtual void SetFilterChecks(const TVidFilter* filter, bool checked) = 0;
  // A hidden dialog bound to the filter; the filter keeps it.
  virtual std::unique_ptr<TDistortSetupLink> MakeDistortSetup(TDistortFilter& filter) = 0;
  // The same for the disparity filter; none: a filter without a dialog.
  virtual std::unique_ptr<TDisparitySetupLink> MakeDisparitySetup(TDisparityFilter& filter);
  // The stereo calibration made or loaded in the chain's distortion filter,
  // none while there is none. Valid until the chain changes.
  virtual const TStereoCalibration* StereoCalibrationInForce() const { return nullptr; }
};

// The main window's one process-wide reference; null while no main window exists.
extern TMainWindowLink* MainWindow;
