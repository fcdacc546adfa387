#pragma once

#include <opencv2/core/types_c.h>

#include <memory>
#include <string>

class TDistortFilter;
class TDistortSetupLink;
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
};

// The main window's one process-wide reference; null while no main window exists.
extern TMainWindowLink* MainWindow;
