#pragma once

// The distortion filter's set-up dialog "DistortionSetup": both camera
// models, the warp matrix and the mode, and the buttons of the chessboard
// calibration. It keeps no values of its own: every change goes to its
// filter, which writes what it stores back.

#include <QWidget>
#include <array>
#include <memory>

#include "filters/filter_setup.h"

class QComboBox;
class QLabel;
class QTimer;
class QPlainTextEdit;
class QStatusBar;
class TDecimalSpinEdit;
class TDistortFilter;

namespace Ui {
class TFoDistortSetup;
}

class TFoDistortSetup : public QWidget, public TDistortSetupLink, public TLogMemo {
  Q_OBJECT

 public:
  // Bound to the filter, or to none (then every handler does nothing).
  explicit TFoDistortSetup(QWidget* parent = nullptr, TDistortFilter* filter = nullptr);
  ~TFoDistortSetup() override;

  // What the filter reaches of its dialog.
  int Left() const override { return x(); }
  int Top() const override { return y(); }
  void MoveTo(int left, int top) override { move(left, top); }
  void WriteField(TDistortField field, double value) override;
  void WriteMode(int index) override;
  void WriteBoardSize(int width, int height) override;
  void WriteSubPixel(bool on) override;
  void WriteSquareSize(double mm) override;
  void ShowStatus(const std::string& text) override;
  void ShowCoverage(const TViewCoverage& coverage) override;
  TLogMemo& Memo() override { return *this; }
  void ShowModeless() override;
  void AppendLine(const std::string& line) override;

  TDecimalSpinEdit* Field(TDistortField field) const { return fields_[static_cast<size_t>(field)]; }

  TDistortFilter* Filter = nullptr;
  QComboBox* CoMode;
  QPlainTextEdit* Memo1;
  QStatusBar* StatusBar1;
  // Views pushed of the most the store takes ("7 of 20"), beside the bars.
  QLabel* LaViewCount;

  // Event handlers.
  void FieldChange(TDistortField field);
  void CoModeChange();
  void BuRecalcClick();
  void BuPushClick();
  void BuCalibClick();
  void Button1Click();
  void Button2Click();
  void BoardSizeChange();
  void ChSubPixelClick();
  void SeSquareSizeChange();
  void BuStereoCalibClick();
  void BuSaveClick();
  void BuLoadClick();
  void ChAutoPushClick();
  void BuDropWorstClick();
  void BuSaveViewsClick();
  void BuLoadViewsClick();
  // Starts loading a views folder and follows it until it is done, the
  // window going on meanwhile.
  void LoadViewsFrom(const QString& folder);

 private:
  // Runs a long calibration step with the dialog showing that it works.
  void RunBusy(void (TDistortFilter::*step)());

  std::unique_ptr<Ui::TFoDistortSetup> ui_;
  // Polls a views load that runs off this thread.
  QTimer* views_load_timer_;
  std::array<TDecimalSpinEdit*, kDistortFieldCount> fields_{};
};

// The dialog's one process-wide instance made at start, bound to no filter
// and never shown; null while none exists.
extern TFoDistortSetup* FoDistortSetup;
