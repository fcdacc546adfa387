#pragma once

#include <string>

#include "filters/view_coverage.h"

// What a filter reaches of its own set-up dialog. The dialogs implement it in
// the application layer; filters without a dialog hold none.
class TFilterSetup {
 public:
  virtual ~TFilterSetup() = default;
  virtual int Left() const = 0;
  virtual int Top() const = 0;
  virtual void MoveTo(int left, int top) = 0;
};

// A multi-line log: each call appends one line.
class TLogMemo {
 public:
  virtual ~TLogMemo() = default;
  virtual void AppendLine(const std::string& line) = 0;
};

// The number fields of the distortion dialog, in the order of the dialog's
// table: left camera, right camera, then the matrix row by row.
enum class TDistortField {
  Lk1,
  Lk2,
  Lp1,
  Lp2,
  Lfx,
  Lcx,
  Lfy,
  Lcy,
  Rk1,
  Rk2,
  Rp1,
  Rp2,
  Rfx,
  Rcx,
  Rfy,
  Rcy,
  F00,
  F01,
  F02,
  F10,
  F11,
  F12,
  F20,
  F21,
  F22,
};
inline constexpr int kDistortFieldCount = 25;

class TDistortFilter;

// What the distortion filter reaches of its dialog: its fields and mode list
// to write values into, the calibration log, the status line, and showing it.
class TDistortSetupLink : public TFilterSetup {
 public:
  virtual void WriteField(TDistortField field, double value) = 0;
  virtual void WriteMode(int index) = 0;
  virtual void WriteBoardSize(int width, int height) = 0;
  virtual void WriteSubPixel(bool on) = 0;
  virtual void WriteSquareSize(double mm) = 0;
  virtual void ShowStatus(const std::string& text) = 0;
  // The coverage of the collected views, while the search runs.
  virtual void ShowCoverage(const TViewCoverage&) {}
  virtual TLogMemo& Memo() = 0;
  virtual void ShowModeless() = 0;
};
