#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdisparity.h"
#include "app/setdistort.h"
#include "app_test_support.h"
#include "demos/depth_figures.h"
#include "demos/rig_operator.h"
#include "depth_rig_fixture.h"
#include "drivers/depth_scene.h"
#include "filters/disparity_filter.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

using DepthTest = DepthRigFixture;

struct MatcherGoal {
  TMatcherKind matcher;
  double bad2;
  double valid;
};

class DepthMatcherTest : public DepthTest, public ::testing::WithParamInterface<MatcherGoal> {};

TEST_P(DepthMatcherTest, DisparitiesMeetTheRigsTruth) {
  dialog_->CoMatcher->setCurrentIndex(static_cast<int>(GetParam().matcher));
  const auto map = FreshMap();
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->Settings.Matcher, GetParam().matcher);
  const cv::Mat truth = rig_.DisparityTruth(*map->Snapshot.Calibration);
  ASSERT_FALSE(truth.empty());
  const auto figures = depth_figures::CompareWithTruth(map->Snapshot.Disparity16, truth, map->Settings);
  EXPECT_GT(figures.PixelsWithTruth, 200000);
  EXPECT_LT(figures.Bad2, GetParam().bad2);
  EXPECT_GT(figures.ValidShare, GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Matchers, DepthMatcherTest,
                         ::testing::Values(MatcherGoal{TMatcherKind::SemiGlobal, 0.05, 0.90},
                                           MatcherGoal{TMatcherKind::BlockMatching, 0.10, 0.5}),
                         [](const auto& info) {
                           return info.param.matcher == TMatcherKind::SemiGlobal ? "SemiGlobal"
                                                                                 : "BlockMatching";
                         });

TEST_F(DepthTest, ClicksMeasureTheBoardAndTheSavedCloudIsFlatThere) {
  windows_.form2->FullSize1Click();
  const auto map = FreshMap();
  ASSERT_NE(map, nullptr);
  const std::vector<cv::Point2f> corners = depth_figures::BoardCorners(map->Snapshot.Left, {8, 6});
  ASSERT_EQ(corners.size(), 48u);
  Click(corners.front());
  const QString first = windows_.form2->LaMeasure->text();
  EXPECT_TRUE(first.contains(" Z ") && first.endsWith("px)")) << first.toStdString();
  Click(corners.back());
  const QString text = windows_.form2->LaMeasure->text();
  ASSERT_TRUE(text.startsWith("Distance ")) << text.toStdString();
  const double square = distort_->StereoResult->SquareSize_mm;
  EXPECT_NEAR(text.mid(9).section(' ', 0, 0).toDouble(), square * std::hypot(7.0, 5.0),
              0.01 * square * std::hypot(7.0, 5.0));
  // A third click starts again; Escape clears.
  Click(corners[7]);
  EXPECT_FALSE(windows_.form2->LaMeasure->text().startsWith("Distance"));
  QTest::keyClick(windows_.form2.get(), Qt::Key_Escape);
  EXPECT_TRUE(windows_.form2->LaMeasure->text().isEmpty());

  const std::string stem = folder_.filePath("depth").toStdString();
  dialog_->SaveDepthTo(stem);
  const auto cloud = depth_figures::ReadPly(stem + ".ply");
  ASSERT_TRUE(cloud.has_value());
  const TDepthSnapshot& shown = filter_->ShownMap()->Snapshot;
  const TProbe origin = ProbeAt(shown, cv::Point(corners[0])), across = ProbeAt(shown, cv::Point(corners[7])),
               down = ProbeAt(shown, cv::Point(corners[40]));
  ASSERT_TRUE(origin.Point && across.Point && down.Point);
  const auto board = depth_figures::BoardPoints(*cloud, *origin.Point, *across.Point - *origin.Point,
                                                *down.Point - *origin.Point);
  EXPECT_GT(board.size(), 500u);
  EXPECT_LT(depth_figures::PlaneRms(board), 0.005 * (*origin.Point)[2]);
  // The depth file holds the corner's depth in mm.
  const cv::Mat depth = cv::imread(stem + "_depth.png", cv::IMREAD_UNCHANGED);
  ASSERT_EQ(depth.type(), CV_16U);
  EXPECT_NEAR(depth.at<uint16_t>(cv::Point(corners[0])), (*origin.Point)[2], 0.005 * (*origin.Point)[2]);
}

TEST_F(DepthTest, WithoutACalibrationThePairIsTakenAsRectifiedAndSaidSo) {
  distort_->StereoResult.reset();
  const auto map = FreshMap();
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->Snapshot.Calibration, nullptr);
  EXPECT_TRUE(dialog_->StatusBar1->currentMessage().contains("taken as rectified"));
  EXPECT_TRUE(rig_operator::DialogOf(*distort_)->Memo1->toPlainText().contains("no stereo calibration"));
  // The pair as the cameras took it: the click gives how far the scene point
  // seen at the centre lies across in the right camera's own image.
  const cv::Point2d centre(320, 240);
  const TStereoCalibration truth = rig_.TrueCalibration({640, 480});
  const double z = rig_.DepthTruth(1, {640, 480}).at<float>(cv::Point(centre));
  std::vector<cv::Point2d> ray;
  cv::undistortPoints(std::vector<cv::Point2d>{centre}, ray, truth.K1, truth.D1);
  std::vector<cv::Point2d> seen;
  cv::projectPoints(std::vector<cv::Point3d>{{ray[0].x * z, ray[0].y * z, z}}, cv::Mat(truth.R),
                    cv::Mat(truth.T), cv::Mat(truth.K2), truth.D2, seen);
  windows_.form2->PaneClick({320, 240});
  const QString text = windows_.form2->LaMeasure->text();
  ASSERT_TRUE(text.startsWith("(320, 240): disparity ") && text.endsWith(" px")) << text.toStdString();
  EXPECT_NEAR(text.section(' ', 3, 3).toDouble(), centre.x - seen[0].x, 1.0) << text.toStdString();
  windows_.form2->PaneClick({-3, 900});
  EXPECT_EQ(windows_.form2->LaMeasure->text(), "Outside the image");
}

TEST_F(DepthTest, SettingsAreKeptForTheNextDisparityFilter) {
  dialog_->findChild<QSpinBox*>("SeNumDisparities")->setValue(96);
  dialog_->findChild<QSpinBox*>("SeBlockSize")->setValue(7);
  dialog_->findChild<QSpinBox*>("SeNumDisparities")->setValue(100);
  EXPECT_EQ(filter_->Settings.NumDisparities, 96);
  EXPECT_EQ(dialog_->findChild<QSpinBox*>("SeNumDisparities")->value(), 96);
  EXPECT_TRUE(dialog_->Memo1->toPlainText().contains("multiple of 16"));
  form().WriteSettings();
  rig_operator::DropPanel(form(), form().PaDepth);
  const TDisparityFilter* next = rig_operator::DisparityFilterAt(form(), 2);
  EXPECT_EQ(next->Settings.NumDisparities, 96);
  EXPECT_EQ(next->Settings.BlockSize, 7);
}

}  // namespace

// The steps after matching, switched on in the dialog, against the scene's truth.
class DepthStepsTest : public DepthTest {
 protected:
  void Switch(const char* name) { dialog_->findChild<QCheckBox*>(name)->setChecked(true); }
  // Figures of a map made wholly with the settings now in force.
  depth_figures::MapFigures FiguresNow() {
    std::shared_ptr<const TDisparityResult> map = FreshMap();
    while (map && !(map->Settings == filter_->Settings)) map = FreshMap();
    EXPECT_NE(map, nullptr);
    if (map == nullptr) return {};
    const cv::Mat truth = rig_.DisparityTruth(*map->Snapshot.Calibration);
    EXPECT_FALSE(truth.empty());
    return depth_figures::CompareWithTruth(map->Snapshot.Disparity16, truth, map->Settings);
  }
  // The pixel of the rectified left image that shows a point of the wall.
  cv::Point WallPixel(const cv::Point2d& at_mm) {
    const TStereoCalibration& c = *filter_->ShownMap()->Snapshot.Calibration;
    const cv::Vec3d turned = c.R1 * cv::Vec3d(at_mm.x, at_mm.y, sim::kWallDistance_mm);
    const cv::Vec3d seen = c.P1.get_minor<3, 3>(0, 0) * turned;
    return {cvRound(seen[0] / seen[2]), cvRound(seen[1] / seen[2])};
  }
};

TEST_F(DepthStepsTest, ChecksHalveTheWrongMatchesAndFillingLeavesFewerWrongPixelsThanThePlainMap) {
  const auto plain = FiguresNow();
  ASSERT_GT(plain.PixelsWithTruth, 200000);
  Switch("ChLeftRight");
  Switch("ChTexture");
  const auto checked = FiguresNow();
  EXPECT_LE(checked.Bad2, 0.5 * plain.Bad2) << "plain " << plain.Bad2;
  EXPECT_GE(checked.ValidShare, 0.85);
  Switch("ChFill");
  const auto filled = FiguresNow();
  EXPECT_LE(filled.Bad2All, 0.75 * plain.Bad2All) << "plain " << plain.Bad2All;
  EXPECT_GE(filled.ValidShare, 0.99);
}

TEST_F(DepthStepsTest, AClickOnThePlainPatchSaysThereIsNoValidDisparityWithoutFilling) {
  windows_.form2->FullSize1Click();
  Switch("ChLeftRight");
  Switch("ChTexture");
  FiguresNow();
  const cv::Point2d centre_mm = (sim::kPlainPatch_mm.tl() + sim::kPlainPatch_mm.br()) / 2;
  Click(WallPixel(centre_mm));
  EXPECT_TRUE(windows_.form2->LaMeasure->text().endsWith("no valid disparity here"))
      << windows_.form2->LaMeasure->text().toStdString();
  // Filled, the patch measures the wall.
  Switch("ChFill");
  FiguresNow();
  Click(WallPixel(centre_mm));
  const QString text = windows_.form2->LaMeasure->text();
  ASSERT_TRUE(text.contains(" Z ")) << text.toStdString();
  EXPECT_NEAR(text.section(" Z ", 1).section(' ', 0, 0).toDouble(), sim::kWallDistance_mm,
              0.02 * sim::kWallDistance_mm);
}

TEST_F(DepthStepsTest, ARectangleDraggedOnTheWallGivesItsFlatnessAndTheErrorOfItsDistance) {
  windows_.form2->FullSize1Click();
  Switch("ChFill");
  FiguresNow();
  const TDepthSnapshot& shown = filter_->ShownMap()->Snapshot;
  // The plain patch: a part of the flat wall, its true depth taken from the truth.
  const cv::Point from = WallPixel(sim::kPlainPatch_mm.tl()), to = WallPixel(sim::kPlainPatch_mm.br());
  const cv::Rect pixels(from, to);
  const cv::Mat truth = rig_.DisparityTruth(*shown.Calibration);
  const cv::Point middle = (from + to) / 2;
  const double true_z = PointAt(*shown.Calibration, cv::Point2d(middle), truth.at<float>(middle)).val[2];
  dialog_->findChild<QDoubleSpinBox*>("SeTrueDistance")->setValue(true_z);
  TPane* pane = windows_.form2->PbGraf2;
  const auto at = [pane](const cv::Point& pixel) {
    return QPoint(pixel.x * pane->width() / pane->Bitmap().Width(),
                  pixel.y * pane->height() / pane->Bitmap().Height());
  };
  QTest::mousePress(pane, Qt::LeftButton, {}, at(from));
  QTest::mouseMove(pane, at(to));
  QTest::mouseRelease(pane, Qt::LeftButton, {}, at(to));
  const QString text = windows_.form2->LaQuality->text();
  ASSERT_TRUE(text.startsWith("Region ")) << text.toStdString();
  const double rms = text.section("plane RMS ", 1).section(' ', 0, 0).toDouble();
  // A flat wall: what is left of the plane is noise, well under a percent.
  EXPECT_GT(rms, 0.0);
  EXPECT_LT(rms, 0.005 * true_z) << text.toStdString();
  EXPECT_NEAR(text.section("fill ", 1).section(' ', 0, 0).toDouble(), 100.0, 1.0);
  EXPECT_LT(std::abs(text.section("Z error ", 1).section(' ', 0, 0).toDouble()), 0.01 * true_z);
  // The same figures go into the line of "Save depth…".
  dialog_->SaveDepthTo(folder_.filePath("region").toStdString());
  EXPECT_TRUE(dialog_->Memo1->toPlainText().contains(QString::fromStdString("; Region ")));
  // A plain click is no rectangle.
  windows_.form2->LaQuality->clear();
  Click(cv::Point2f(middle));
  EXPECT_TRUE(windows_.form2->LaQuality->text().isEmpty());
}
