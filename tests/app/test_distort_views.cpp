// "Load views…" through the distortion dialog: the folder is searched
// beside the window, which goes on handling its events.

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>

#include "app/Unit1.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "app_test_support.h"
#include "demos/rig_operator.h"
#include "filters/saved_views.h"
#include "filters/vidfilters_distort.h"
#include "tests/filters/drawn_board.h"

namespace {

TEST(DistortViews, LoadViewsKeepsTheWindowGoingAndEndsWithTheViewsInForce) {
  ScopedSettingsFolder settings;
  Windows windows;
  rig_operator::DropPanel(windows.form(), windows.form().PaDistort);
  auto& filter = dynamic_cast<TDistortFilter&>(*windows.form().FilterList.at(0).Filter);
  TFoDistortSetup& dialog = *rig_operator::DialogOf(filter);

  const std::string folder = ::testing::TempDir() + "dialog_views_" + std::to_string(::getpid());
  std::filesystem::remove_all(folder);
  TCalibrationFilter saved;
  saved.SetCameraCount(2);
  for (int pose = 0; pose < 4; ++pose) {
    std::vector<cv::Mat> pair{DrawBoardInPose(pose).image, DrawBoardInPose(pose + 7).image};
    saved.FindCorners(pair);
    saved.PushView();
  }
  ASSERT_TRUE(SaveViews(saved, folder));

  dialog.LoadViewsFrom(QString::fromStdString(folder));
  // The click has returned with the search still running.
  EXPECT_TRUE(filter.LoadingViews());
  QTRY_VERIFY_WITH_TIMEOUT(!filter.LoadingViews(), 60000);
  EXPECT_EQ(filter.Calibration.Cameras[0].ViewCount, 4);
  EXPECT_TRUE(dialog.Memo1->toPlainText().contains("Loaded 4 views of 4 pairs"))
      << dialog.Memo1->toPlainText().toStdString();
  std::filesystem::remove_all(folder);
}

}  // namespace
