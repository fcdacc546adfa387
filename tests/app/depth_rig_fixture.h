#pragma once

// The simulated scene held still with the board 1.2 m away, the rig's own
// calibration loaded, both images rectified and a "Disparity" filter behind
// them: the set-up of the depth and the 3D view tests.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/setdisparity.h"
#include "app_test_support.h"
#include "demos/rig_operator.h"
#include "filters/disparity_filter.h"
#include "filters/vidfilters_distort.h"

// A moment of the textured scene at which the board faces the rig 1.2 m away.
inline constexpr double kDepthPose = 1058.5;

class DepthRigFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_CAMERAS();
    ASSERT_TRUE(rig_.Loaded());
    rig_.SetSceneTime(kDepthPose);
    ASSERT_TRUE(rig_operator::SetUpBothCameras(form()));
    form().ChTrigger->setChecked(true);
    rig_operator::DropPanel(form(), form().PaDistort);
    distort_ = rig_operator::DistortFilterAt(form(), 0);
    ASSERT_TRUE(distort_->LoadCalibration(TrueCalibrationFile()));
    distort_->SetMode(kRectifyBoth);
    rig_operator::DropPanel(form(), form().PaDepth);
    filter_ = rig_operator::DisparityFilterAt(form(), 1);
    dialog_ = dynamic_cast<TFoDisparitySetup*>(filter_->Setup);
    ASSERT_NE(dialog_, nullptr);
  }
  void TearDown() override {
    if (windows_.form1 && form().ChTrigger->isChecked()) form().ChTrigger->setChecked(false);
  }
  TForm1& form() { return windows_.form(); }

  // The rig's true model at 640 x 480 as a calibration file.
  std::string TrueCalibrationFile() {
    const std::string path = folder_.filePath("calibration.yml").toStdString();
    std::string why;
    EXPECT_TRUE(WriteCalibrationFile(path, rig_.TrueCalibration({640, 480}), why)) << why;
    return path;
  }
  // The newest map of a pair taken from now on.
  std::shared_ptr<const TDisparityResult> FreshMap() {
    using namespace std::chrono_literals;
    const uint64_t seen = filter_->ShownMap() ? filter_->ShownMap()->Sequence : 0;
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return filter_->ShownMap() && filter_->ShownMap()->Sequence > seen + 1; }, 60s));
    return filter_->ShownMap();
  }
  // Clicks the left pane where a pixel of the rectified image shows.
  void Click(const cv::Point2f& pixel) {
    TPane* pane = windows_.form2->PbGraf1;
    const double scale_x = static_cast<double>(pane->width()) / pane->Bitmap().Width();
    const double scale_y = static_cast<double>(pane->height()) / pane->Bitmap().Height();
    QTest::mouseClick(
        pane, Qt::LeftButton, {},
        QPoint(static_cast<int>((pixel.x + 0.5) * scale_x), static_cast<int>((pixel.y + 0.5) * scale_y)));
  }

  ScopedSettingsFolder settings_;
  ScopedEnv scene_{"STEREO_SIM_SOURCE", "scene"};
  ScopedEnv still_{"STEREO_SIM_SCENE_SPEED", "0"};
  Windows windows_;
  rig_operator::SimulatedRig rig_;
  QTemporaryDir folder_;
  TDistortFilter* distort_ = nullptr;
  TDisparityFilter* filter_ = nullptr;
  TFoDisparitySetup* dialog_ = nullptr;
};
