// The "BlurSetup" dialog bound to a test effect: what each mode shows, the
// function list rules, the "Window" condition, and an unbound dialog.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <memory>
#include <ostream>

#include "Video/vidclass/ipl.h"
#include "app/blur_effect.h"
#include "app/image_window.h"
#include "app/setblur.h"
#include "app_test_support.h"

namespace {

// An effect that counts how often its outputs are made anew.
class CountingBlurEffect : public TBlurEffect {
 public:
  explicit CountingBlurEffect(CreateKey key) : TBlurEffect(key) {}
  void AllocateOutputs() override {
    ++allocations;
    TBlurEffect::AllocateOutputs();
  }
  int allocations = 0;
};

// As the operator picks an entry: the choice handlers answer only that.
void Choose(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

class BlurSetup : public ::testing::Test {
 protected:
  void SetUp() override { effect_->BindDialog(&dialog_); }
  void TearDown() override { delete FindImageWindow("Source"); }

  TFoBlurSetup dialog_;
  std::unique_ptr<CountingBlurEffect> effect_ = TVidFilter::Create<CountingBlurEffect>();
};

struct ModeCase {
  int mode;
  bool smooth_shown;
  bool sub_pixel_shown;
  QStringList functions;
};

void PrintTo(const ModeCase& test, std::ostream* out) { *out << "mode " << test.mode; }

class BlurModes : public BlurSetup, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(BlurModes, ChoosingAModeShowsItsControlsAndFunctions) {
  const ModeCase& test = GetParam();
  const int allocations = effect_->allocations;
  Choose(dialog_.CoMode, test.mode);
  EXPECT_EQ(effect_->Mode, test.mode);
  EXPECT_EQ(effect_->allocations, allocations + 1);
  EXPECT_EQ(!dialog_.SeSmooth->isHidden(), test.smooth_shown);
  EXPECT_EQ(!dialog_.ChAll->isHidden(), test.sub_pixel_shown);
  EXPECT_EQ(Items(dialog_.CoFunction), test.functions);
  EXPECT_EQ(dialog_.CoFunction->currentIndex(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, BlurModes,
    ::testing::Values(
        ModeCase{8, true, true, {"Precorner", "Harris", "GoodFeatures"}},
        ModeCase{2, false, true, {"Contour", "Filled", "Outside", "Inside", "Extend", "Face", "Skeleton"}},
        ModeCase{0, false, false, {"Blur", "Median", "Min", "Max", "Gauss*3", "Gauss*5"}},
        ModeCase{5, false, false, {"DFT", "Inv-DFT", "DCT", "Inv-DCT", "Sharp"}}));

TEST_F(BlurSetup, ModeChangeKeepsTheFunctionChosenBefore) {
  Choose(dialog_.CoMode, 1);
  Choose(dialog_.CoFunction, 3);
  EXPECT_EQ(effect_->Function, 3);
  Choose(dialog_.CoMode, 3);
  EXPECT_EQ(dialog_.CoFunction->currentText(), "Erode");
  EXPECT_EQ(effect_->Function, 3);
}

TEST_F(BlurSetup, FieldsReachTheEffectAndItsValuesComeBack) {
  dialog_.EdName->setText("Soft");
  dialog_.SeBlur->setValue(2.5);
  Choose(dialog_.CoCombi, 9);
  dialog_.SeSmooth->setValue(7);
  dialog_.SeParameter2->setValue(-3.25);
  dialog_.ChAll->click();
  const int allocations = effect_->allocations;
  dialog_.SeSize->setValue(2.5);
  EXPECT_EQ(effect_->Name, "Soft");
  EXPECT_EQ(effect_->Parameter, 2.5L);
  EXPECT_EQ(effect_->OptionValue, 9);
  EXPECT_EQ(effect_->Smooth, 7.0L);
  EXPECT_EQ(effect_->Parameter2, -3.25L);
  EXPECT_TRUE(effect_->SubPixel);
  EXPECT_EQ(effect_->Size, 2.5L);
  EXPECT_EQ(effect_->allocations, allocations + 1);

  // The effect's own changes are shown without calling it again.
  effect_->SetSubPixel(false);
  effect_->SetFunction(2);
  EXPECT_FALSE(dialog_.ChAll->isChecked());
  EXPECT_EQ(dialog_.CoFunction->currentIndex(), 2);
  EXPECT_EQ(effect_->allocations, allocations + 1);
}

struct WindowCase {
  int function;
  double size;
  bool opens;
};

void PrintTo(const WindowCase& test, std::ostream* out) {
  *out << "function " << test.function << " size " << test.size;
}

class SourceWindow : public BlurSetup, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(SourceWindow, OpensOnlyForSharpeningBelowSizeOne) {
  IplImage* source = CreateImage(cvSize(40, 30), 1, IPL_DEPTH_8U, true);
  effect_->SourceImage = source;
  Choose(dialog_.CoMode, 5);
  Choose(dialog_.CoFunction, GetParam().function);
  dialog_.SeSize->setValue(GetParam().size);
  dialog_.Button1->click();
  const QWidget* window = FindImageWindow("Source");
  EXPECT_EQ(window != nullptr && window->isVisible(), GetParam().opens);
  if (window != nullptr) {
    EXPECT_EQ(window->size(), QSize(40, 30));
  }
  ReleaseImage(&source);
}

INSTANTIATE_TEST_SUITE_P(ModeDft, SourceWindow,
                         ::testing::Values(WindowCase{4, 0.5, true}, WindowCase{4, 1.0, false},
                                           WindowCase{3, 0.5, false}));

TEST(BlurSetupUnbound, HandlersDoNothingWithoutAnEffect) {
  TFoBlurSetup dialog;
  const QStringList design_time = Items(dialog.CoFunction);
  EXPECT_EQ(dialog.CoFunction->currentIndex(), -1);
  Choose(dialog.CoMode, 8);
  dialog.Button1->click();
  EXPECT_EQ(Items(dialog.CoFunction), design_time);
  EXPECT_EQ(design_time.size(), 11);
  EXPECT_EQ(FindImageWindow("Source"), nullptr);
  EXPECT_TRUE(dialog.isHidden());
}

// The dialog lives for the whole program, an effect only as long as the
// chain holds it: the dialog must not call an effect that is gone.
TEST(BlurSetupUnbound, Regression_DialogOutlivesItsEffect) {
  TFoBlurSetup dialog;
  auto effect = TVidFilter::Create<CountingBlurEffect>();
  effect->BindDialog(&dialog);
  effect.reset();
  EXPECT_EQ(dialog.Effect, nullptr);
  Choose(dialog.CoMode, 8);
  dialog.SeSize->setValue(3);
}

}  // namespace
