#pragma once

#include <opencv2/core/types_c.h>

#include <string>

class TVidFilter;

// What a filter reaches of the main window: the current input frames, the log
// memo and the check marks of the filter list. The main window implements it.
class TMainWindowLink {
 public:
  virtual ~TMainWindowLink() = default;
  virtual IplImage* CurrentLeftImage() const = 0;
  virtual IplImage* CurrentRightImage() const = 0;
  virtual void AppendLog(const std::string& line) = 0;
  // Ticks or unticks every filter-list entry whose object is this filter.
  virtual void SetFilterChecks(const TVidFilter* filter, bool checked) = 0;
};

// The main window's one process-wide reference; null while no main window exists.
extern TMainWindowLink* MainWindow;
