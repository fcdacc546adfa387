// The 3D view and the dialogs' places on a virtual X server: OpenGL drawn by
// Mesa's software renderer, read back from the real window.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <opencv2/imgproc.hpp>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdisparity.h"
#include "app/setdistort.h"
#include "app/view3d.h"
#include "app_test_support.h"
#include "demos/depth_figures.h"
#include "demos/rig_operator.h"
#include "depth_rig_fixture.h"
#include "filters/disparity_filter.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

// The pixel of the grab where a point of the left image shows, for a widget
// of the image's own size.
QPoint WidgetPixel(const cv::Point2f& pixel) {
  return {static_cast<int>(std::lround(pixel.x)), static_cast<int>(std::lround(pixel.y))};
}

int ColourDistance(QRgb a, const cv::Vec3b& bgr) {
  return std::abs(qRed(a) - bgr[2]) + std::abs(qGreen(a) - bgr[1]) + std::abs(qBlue(a) - bgr[0]);
}

cv::Vec3b LeftColour(const cv::Mat& left, cv::Point pixel) {
  if (left.channels() == 1) {
    const uint8_t grey = left.at<uint8_t>(pixel);
    return {grey, grey, grey};
  }
  return left.at<cv::Vec3b>(pixel);
}

// The depth tests' scene and chain, drawn in 3D by Mesa on the virtual X server.
class View3DTest : public DepthRigFixture {
 protected:
  void SetUp() override {
    DepthRigFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(OpenGLAvailable()) << "no OpenGL on the virtual X server";
  }

  // Opens the view from the disparity dialog's button and waits for a cloud.
  TView3D* OpenView() {
    auto* button = dialog_->findChild<QPushButton*>("BuView3D");
    EXPECT_NE(button, nullptr);
    if (button == nullptr) return nullptr;
    button->click();
    TView3D* view = View3D();
    EXPECT_NE(view, nullptr);
    if (view == nullptr || view->CloudView() == nullptr) return nullptr;
    EXPECT_TRUE(ProcessEventsUntil([&] { return !view->CloudView()->Cloud().Empty(); }, 60s));
    // The camera's own view at the image's size: pixel for pixel the left image.
    view->CloudView()->setFixedSize(640, 480);
    view->adjustSize();
    view->CloudView()->ResetView();
    ProcessEventsFor(200ms);
    return view;
  }
};

TEST_F(View3DTest, TheCloudIsDrawnWhereTheBoardIsInTheLeftImageAndClicksMeasureIt) {
  TView3D* view = OpenView();
  ASSERT_NE(view, nullptr);
  ASSERT_NE(view->CloudView(), nullptr);
  const auto map = filter_->ShownMap();
  ASSERT_NE(map, nullptr);
  const cv::Mat& left = map->Snapshot.Left;
  const std::vector<cv::Point2f> corners = depth_figures::BoardCorners(left, {8, 6});
  ASSERT_EQ(corners.size(), 48u);
  const QImage shot = view->CloudView()->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(640, 480));

  // Inside the board's inner corners the picture is the left image's.
  std::vector<cv::Point> hull;
  cv::convexHull(std::vector<cv::Point>(corners.begin(), corners.end()), hull);
  int inside = 0, alike = 0;
  for (int y = 0; y < 480; y += 2) {
    for (int x = 0; x < 640; x += 2) {
      if (cv::pointPolygonTest(hull, cv::Point2f(x, y), true) < 4) continue;
      ++inside;
      if (ColourDistance(shot.pixel(x, y), LeftColour(left, {x, y})) < 60) ++alike;
    }
  }
  ASSERT_GT(inside, 400);
  EXPECT_GT(alike, inside * 9 / 10) << alike << " of " << inside;

  // Clicks on two corners of the board measure the board's own diagonal.
  QTest::mouseClick(view->CloudView(), Qt::LeftButton, {}, WidgetPixel(corners.front()));
  const QString first = view->LaMeasure->text();
  EXPECT_TRUE(first.contains(" Z ")) << first.toStdString();
  QTest::mouseClick(view->CloudView(), Qt::LeftButton, {}, WidgetPixel(corners.back()));
  const QString text = view->LaMeasure->text();
  ASSERT_TRUE(text.startsWith("Distance ")) << text.toStdString();
  const double diagonal = distort_->StereoResult->SquareSize_mm * std::hypot(7.0, 5.0);
  EXPECT_NEAR(text.mid(9).section(' ', 0, 0).toDouble(), diagonal, 0.02 * diagonal);
  QTest::keyClick(view, Qt::Key_Escape);
  EXPECT_TRUE(view->LaMeasure->text().isEmpty());

  // Taken out of the chain, the filter takes its points with it.
  form().StereoFIlterListBox->setCurrentRow(1);
  QTest::keyClick(form().StereoFIlterListBox, Qt::Key_Delete);
  EXPECT_TRUE(ProcessEventsUntil([&] { return view->CloudView()->Cloud().Empty(); }, 5s));
  EXPECT_EQ(view->LaMeasure->text(), "No disparity map is shown");
}

TEST_F(View3DTest, FromAnObliqueEyeTheBoardStandsWhereItsPointsProject) {
  TView3D* view = OpenView();
  ASSERT_NE(view, nullptr);
  ASSERT_NE(view->CloudView(), nullptr);
  TCloudView* cloud_view = view->CloudView();
  // Dragged with the left button: the eye turns about the cloud's centre.
  const TOrbit before = cloud_view->Orbit();
  QTest::mousePress(cloud_view, Qt::LeftButton, {}, {320, 240});
  for (int x = 330; x <= 420; x += 10) QTest::mouseMove(cloud_view, {x, 260});
  QTest::mouseRelease(cloud_view, Qt::LeftButton, {}, {420, 260});
  EXPECT_LT(cloud_view->Orbit().Yaw_deg, before.Yaw_deg - 20);
  ProcessEventsFor(200ms);
  const QImage shot = cloud_view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
  const QRgb background = shot.pixel(2, 2);
  const auto& snapshot = filter_->ShownMap()->Snapshot;
  const std::vector<cv::Point2f> corners = depth_figures::BoardCorners(snapshot.Left, {8, 6});
  ASSERT_EQ(corners.size(), 48u);
  int drawn = 0;
  for (const cv::Point2f& corner : corners) {
    const TProbe probe = ProbeAt(snapshot, cv::Point(corner));
    ASSERT_TRUE(probe.Point.has_value());
    const QVector3D point(static_cast<float>((*probe.Point)[0]), static_cast<float>((*probe.Point)[1]),
                          static_cast<float>((*probe.Point)[2]));
    const auto at = ProjectToWidget(cloud_view->ViewProjection(), cloud_view->size(), point);
    ASSERT_TRUE(at.has_value());
    const QPoint pixel = at->toPoint();
    if (shot.rect().contains(pixel) && shot.pixel(pixel) != background) ++drawn;
  }
  EXPECT_GE(drawn, 44) << "board corners drawn where they project";
  // Back to the camera's view.
  view->BuReset->click();
  EXPECT_NEAR(cloud_view->Orbit().Yaw_deg, before.Yaw_deg, 0.01);
}

TEST(View3DWindowTest, TheMainWindowOpensTheViewAndTheDisplayAgain) {
  ScopedSettingsFolder settings;
  Windows windows;
  windows.form1->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.form1.get()));
  ASSERT_TRUE(windows.form2->isVisible());
  windows.form2->close();
  ASSERT_FALSE(windows.form2->isVisible());
  windows.form1->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(windows.form1.get()));
  QTest::keyClick(windows.form1.get(), Qt::Key_D, Qt::ControlModifier);
  EXPECT_TRUE(windows.form2->isVisible());
  QTest::keyClick(windows.form1.get(), Qt::Key_3, Qt::ControlModifier);
  ASSERT_NE(View3D(), nullptr);
  EXPECT_TRUE(View3D()->isVisible());
  EXPECT_EQ(View3D()->windowTitle(), "3D view");
  EXPECT_EQ(View3D()->LaMeasure->text(), "No disparity map is shown");
}

// The dialogs open at their own places, moved off the display window's panes
// only as far as needed (the virtual screen is 1600 x 1000).
TEST(DialogPlaceTest, TheDistortionDialogOpensBesideThePanesAndOnTheScreen) {
  ScopedSettingsFolder settings;
  Windows windows;
  windows.form1->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.form2.get()));
  rig_operator::DropPanel(*windows.form1, windows.form1->PaDistort);
  rig_operator::DoubleClickEntry(*windows.form1, 0);
  TFoDistortSetup* dialog = rig_operator::DialogOf(*rig_operator::DistortFilterAt(*windows.form1, 0));
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
  const TPane* first = windows.form2->PbGraf1;
  const TPane* second = windows.form2->PbGraf2;
  const QRect panes = QRect(first->mapToGlobal(QPoint(0, 0)), first->size())
                          .united(QRect(second->mapToGlobal(QPoint(0, 0)), second->size()));
  const QRect placed = dialog->frameGeometry();
  const auto where = [&] {
    return std::to_string(placed.x()) + "," + std::to_string(placed.y()) + " " +
           std::to_string(placed.width()) + "x" + std::to_string(placed.height());
  };
  // Its own place (193, 368) covers the panes at their first place.
  ASSERT_TRUE(QRect(QPoint(193, 368), placed.size()).intersects(panes));
  EXPECT_FALSE(placed.intersects(panes)) << where();
  EXPECT_TRUE(dialog->screen()->availableGeometry().contains(placed)) << where();
  // Moved no farther than to the panes' edge.
  const bool touches = placed.left() == panes.right() + 1 || placed.right() == panes.left() - 1 ||
                       placed.top() == panes.bottom() + 1 || placed.bottom() == panes.top() - 1;
  EXPECT_TRUE(touches) << where();
}

}  // namespace
