#pragma once

// The blur effect's set-up dialog "BlurSetup": mode, function, combination,
// size, smoothing and sub-pixel switch of the effect bound to it. Every change
// goes to that effect, which writes back what it accepts. It is created hidden
// at start; with no effect bound it is never shown and its handlers do nothing.

#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QToolButton;
class TBlurEffect;

namespace Ui {
class TFoBlurSetup;
}

class TFoBlurSetup : public QWidget {
  Q_OBJECT

 public:
  explicit TFoBlurSetup(QWidget* parent = nullptr);
  ~TFoBlurSetup() override;

  // Shows the controls that the bound effect's mode uses and fills the
  // function list with that mode's functions, the first one selected. The
  // effect's own function index stays until the operator picks one.
  void FillFunctionList();

  QLineEdit* EdName;
  QDoubleSpinBox* SeBlur;
  QDoubleSpinBox* SeSmooth;
  QDoubleSpinBox* SeSize;
  QDoubleSpinBox* SeParameter2;
  QCheckBox* ChAll;
  QPushButton* Button1;
  QComboBox* CoMode;
  QComboBox* CoFunction;
  QComboBox* CoCombi;
  QLineEdit* EdCmd;
  QToolButton* SbCmd;
  QStatusBar* Statusbar1;

  // The bound effect, not owned; none as created.
  TBlurEffect* Effect = nullptr;

  void EdNameChange();
  void SeBlurChange();
  void CoCombiChange();
  void CoModeChange();
  void CoFunctionChange();
  void ChAllClick();
  void SeSmoothChange();
  void SeSizeChange();
  void SeParameter2Change();
  void Button1Click();

 private:
  void FormCreate();

  std::unique_ptr<Ui::TFoBlurSetup> ui_;
};

// The dialog's one process-wide instance; null while none exists.
extern TFoBlurSetup* FoBlurSetup;
