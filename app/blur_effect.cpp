#include "app/blur_effect.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>

#include "app/image_window.h"
#include "app/setblur.h"

namespace {

constexpr int32_t kDftMode = 5;
constexpr int32_t kSharpFunction = 4;
constexpr long double kLargestSharpenedSize = 1.0L;

}  // namespace

TBlurEffect::~TBlurEffect() { BindDialog(nullptr); }

void TBlurEffect::BindDialog(TFoBlurSetup* dialog) {
  if (Dialog != nullptr && Dialog->Effect == this) Dialog->Effect = nullptr;
  Dialog = dialog;
  if (Dialog != nullptr) Dialog->Effect = this;
}

void TBlurEffect::ShowSetup() {
  if (Dialog != nullptr) Dialog->show();
}

void TBlurEffect::SetBlurMode(int32_t index) {
  Mode = index;
  if (Dialog != nullptr) {
    Dialog->CoMode->setCurrentIndex(index);
    Dialog->FillFunctionList();
  }
  AllocateOutputs();
}

void TBlurEffect::SetFunction(int32_t index) {
  Function = index;
  if (Dialog != nullptr) Dialog->CoFunction->setCurrentIndex(index);
}

void TBlurEffect::SetSubPixel(bool flag) {
  SubPixel = flag;
  if (Dialog != nullptr) Dialog->ChAll->setChecked(flag);
}

void TBlurEffect::SetSize(long double value) {
  Size = value;
  AllocateOutputs();
  if (Dialog != nullptr) Dialog->SeSize->setValue(static_cast<double>(Size));
}

void TBlurEffect::SetParameter2(long double value) {  // NOLINT(bugprone-virtual-near-miss)
  Parameter2 = value;
  if (Dialog != nullptr) Dialog->SeParameter2->setValue(static_cast<double>(value));
}

void TBlurEffect::ShowSource() {
  if (Mode != kDftMode || Function != kSharpFunction || !(Size < kLargestSharpenedSize)) return;
  ShowImageWindow(QStringLiteral("Source"), SourceImage);
}
