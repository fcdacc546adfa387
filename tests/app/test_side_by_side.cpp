// The simulated rig seen through one stereo camera whose frame holds both
// views side by side: the stereo calibration through the real windows finds
// the rig's truth.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>
#include <opencv2/core.hpp>

#include "Video/vidclass/vidclass_sidebyside.h"
#include "app/Unit1.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "app_test_support.h"
#include "demos/rig_operator.h"
#include "demos/side_by_side_rig.h"
#include "filters/vidfilters_distort.h"

namespace {

class SideBySideCalibration : public ::testing::Test {
 protected:
  SideBySideCalibration()
      : rig_(std::make_unique<rig_operator::SideBySideRig>(pictures_.path().toStdString())),
        sources_("STEREO_CAPTURE_SOURCES", rig_->SourceLine()) {}
  void SetUp() override {
    ASSERT_TRUE(truth_source_.Loaded());
    ASSERT_TRUE(rig_->ShowPose(0));
    windows_ = std::make_unique<Windows>();
  }
  TForm1& form() { return windows_->form(); }
  void Select(QListWidget* list) {
    const auto found = list->findItems(QString::fromStdString(rig_->SourceLine()), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    list->setCurrentItem(found.front());
  }

  ScopedEnv clean_{"STEREO_SIM_NOISE", "0"};
  ScopedSettingsFolder folder_;
  QTemporaryDir pictures_;
  std::unique_ptr<rig_operator::SideBySideRig> rig_;
  ScopedEnv sources_;
  rig_operator::SimulatedRig truth_source_;
  std::unique_ptr<Windows> windows_;
};

TEST_F(SideBySideCalibration, StereoCalibrationThroughTheStereoCameraMeetsTheRigsTruth) {
  Select(form().ListBox1);
  Select(form().ListBox2);
  form().BuInitBoth->click();
  ASSERT_NE(dynamic_cast<tVideoDeviceSideBySide*>(form().Device1.get()), nullptr);
  ASSERT_NE(dynamic_cast<tVideoDeviceSideBySide*>(form().Device2.get()), nullptr);
  ASSERT_EQ(cv::Size(form().Device1->Width, form().Device1->Height), rig_->EyeSize());

  rig_operator::DropPanel(form(), form().PaDistort);
  rig_operator::DoubleClickEntry(form(), 0);
  TDistortFilter* filter = rig_operator::DistortFilterAt(form(), 0);
  ASSERT_NE(filter, nullptr);
  TFoDistortSetup& dialog = *rig_operator::DialogOf(*filter);
  const TStereoCalibration truth = truth_source_.TrueCalibration(rig_->EyeSize());
  dialog.findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  dialog.findChild<QDoubleSpinBox*>("SeSquareSize")->setValue(truth.SquareSize_mm);
  dialog.CoMode->setCurrentIndex(kSearchForCheckerboard);
  ASSERT_EQ(rig_operator::PushSideBySidePoses(*rig_, dialog, 18), 18);
  dialog.findChild<QPushButton*>("BuCalib")->click();
  dialog.findChild<QPushButton*>("BuStereoCalib")->click();
  ASSERT_TRUE(filter->StereoResult.has_value()) << dialog.Memo1->toPlainText().toStdString();

  const cv::Matx33d right(filter->CameraRight);
  for (const auto& [row, column] : {std::pair{0, 0}, {1, 1}, {0, 2}, {1, 2}}) {
    EXPECT_NEAR(filter->StereoResult->K1(row, column), truth.K1(row, column), 0.005 * truth.K1(row, column));
    EXPECT_NEAR(right(row, column), truth.K2(row, column), 0.005 * truth.K2(row, column));
  }
  const double baseline = cv::norm(truth.T);
  EXPECT_NEAR(cv::norm(filter->StereoResult->T), baseline, 0.01 * baseline);
}

}  // namespace
