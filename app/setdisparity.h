#pragma once

// The disparity filter's set-up dialog "DisparitySetup": the matcher and its
// settings, the figures of the newest map and the saving of depth files. It
// keeps no values of its own: every change goes to the filter, which writes
// what it keeps back.

#include <QWidget>
#include <memory>

#include "filters/disparity_filter.h"

class QComboBox;
class QPlainTextEdit;
class QSpinBox;
class QStatusBar;

namespace Ui {
class TFoDisparitySetup;
}

class TFoDisparitySetup : public QWidget, public TDisparitySetupLink, public TLogMemo {
  Q_OBJECT

 public:
  explicit TFoDisparitySetup(QWidget* parent = nullptr, TDisparityFilter* filter = nullptr);
  ~TFoDisparitySetup() override;

  int Left() const override { return x(); }
  int Top() const override { return y(); }
  void MoveTo(int left, int top) override { move(left, top); }
  void WriteSettings(const TDisparitySettings& settings) override;
  void ShowStatus(const std::string& text) override;
  TLogMemo& Memo() override { return *this; }
  void ShowModeless() override;
  void AppendLine(const std::string& line) override;

  // The settings the fields show.
  TDisparitySettings FieldSettings() const;
  // Saves the newest map's files under the stem (what "Save depth…" does
  // once a name is chosen).
  void SaveDepthTo(const std::string& stem);

  TDisparityFilter* Filter = nullptr;
  QComboBox* CoMatcher;
  QPlainTextEdit* Memo1;
  QStatusBar* StatusBar1;

  void FieldChange();
  void BuSaveDepthClick();

 private:
  std::unique_ptr<Ui::TFoDisparitySetup> ui_;
};
