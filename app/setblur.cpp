#include "app/setblur.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <limits>

#include "app/blur_effect.h"
#include "app/ui_setblur.h"

TFoBlurSetup* FoBlurSetup = nullptr;

namespace {

// Function lists by mode, each one comma-separated text as the effect names
// its functions.
const char* const kFunctionLists[] = {
    "Blur,Median,Min,Max,Gauss*3,Gauss*5",
    "Sobel,Sobel-IPL,Prewitt,Canny,Laplace*3,Laplace*5,Hipass*3,Hipass*5",
    "Contour,Filled,Outside,Inside,Extend,Face,Skeleton",
    "Erode,Dilate,Open,Close",
    "Generic,Filter2D",
    "DFT,Inv-DFT,DCT,Inv-DCT,Sharp",
    "Clear,Set,Blur,Median,Min,Max,Erode,Dilate,Open,Close",
    "Simple,Gauss,Shuffle",
    "Precorner,Harris,GoodFeatures",
};
constexpr int kLineDetectionMode = 2;
constexpr int kCornerMode = 8;

}  // namespace

TFoBlurSetup::TFoBlurSetup(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::TFoBlurSetup>()) {
  ui_->setupUi(this);
  // The form's own place; the form file's size is all it takes of its geometry.
  move(411, 481);
  EdName = ui_->EdName;
  SeBlur = ui_->SeBlur;
  SeSmooth = ui_->SeSmooth;
  SeSize = ui_->SeSize;
  SeParameter2 = ui_->SeParameter2;
  ChAll = ui_->ChAll;
  Button1 = ui_->Button1;
  CoMode = ui_->CoMode;
  CoFunction = ui_->CoFunction;
  CoCombi = ui_->CoCombi;
  EdCmd = ui_->EdCmd;
  SbCmd = ui_->SbCmd;
  Statusbar1 = ui_->Statusbar1;
  // Unbounded; a form file cannot say so.
  SeParameter2->setRange(std::numeric_limits<double>::lowest(), std::numeric_limits<double>::max());

  // Combo boxes and the check box answer the operator's choice only: the
  // effect's write-backs into them must not call the effect again. EdCmd and
  // SbCmd do nothing.
  connect(EdName, &QLineEdit::textChanged, this, [this] { EdNameChange(); });
  connect(SeBlur, &QDoubleSpinBox::valueChanged, this, [this] { SeBlurChange(); });
  connect(CoCombi, &QComboBox::activated, this, [this] { CoCombiChange(); });
  connect(CoMode, &QComboBox::activated, this, [this] { CoModeChange(); });
  connect(CoFunction, &QComboBox::activated, this, [this] { CoFunctionChange(); });
  connect(ChAll, &QCheckBox::clicked, this, [this] { ChAllClick(); });
  connect(SeSmooth, &QDoubleSpinBox::valueChanged, this, [this] { SeSmoothChange(); });
  connect(SeSize, &QDoubleSpinBox::valueChanged, this, [this] { SeSizeChange(); });
  connect(SeParameter2, &QDoubleSpinBox::valueChanged, this, [this] { SeParameter2Change(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  FormCreate();
}

TFoBlurSetup::~TFoBlurSetup() {
  if (Effect != nullptr) Effect->Dialog = nullptr;
  if (FoBlurSetup == this) FoBlurSetup = nullptr;
}

void TFoBlurSetup::FormCreate() { CoFunction->setCurrentIndex(-1); }

void TFoBlurSetup::FillFunctionList() {
  if (Effect == nullptr) return;
  const int mode = Effect->Mode;
  SeSmooth->setVisible(mode == kCornerMode);
  ChAll->setVisible(mode == kLineDetectionMode || mode == kCornerMode);
  if (mode >= 0 && mode < static_cast<int>(std::size(kFunctionLists))) {
    CoFunction->clear();
    CoFunction->addItems(QString::fromLatin1(kFunctionLists[mode]).split(','));
  }
  // Not a choice of the operator's: the effect keeps its function index.
  CoFunction->setCurrentIndex(0);
}

void TFoBlurSetup::EdNameChange() {
  if (Effect != nullptr) Effect->SetName(EdName->text().toStdString());
}

void TFoBlurSetup::SeBlurChange() {
  if (Effect != nullptr) Effect->SetParameter(SeBlur->value());
}

void TFoBlurSetup::CoCombiChange() {
  if (Effect != nullptr) Effect->SetOptionValue(CoCombi->currentIndex());
}

void TFoBlurSetup::CoModeChange() {
  if (Effect != nullptr) Effect->SetBlurMode(CoMode->currentIndex());
}

void TFoBlurSetup::CoFunctionChange() {
  if (Effect != nullptr) Effect->SetFunction(CoFunction->currentIndex());
}

void TFoBlurSetup::ChAllClick() {
  if (Effect != nullptr) Effect->SetSubPixel(ChAll->isChecked());
}

void TFoBlurSetup::SeSmoothChange() {
  if (Effect != nullptr) Effect->Smooth = SeSmooth->value();
}

void TFoBlurSetup::SeSizeChange() {
  if (Effect != nullptr) Effect->SetSize(SeSize->value());
}

void TFoBlurSetup::SeParameter2Change() {
  if (Effect != nullptr) Effect->SetParameter2(SeParameter2->value());
}

void TFoBlurSetup::Button1Click() {
  if (Effect != nullptr) Effect->ShowSource();
}
