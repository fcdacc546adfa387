// What the operator sees, through the real windows: the display fitted to its
// window, the filter chain's removal, the live rates and auto push's reasons.

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <set>

#include "Video/vidclass/ipl.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "app_test_support.h"
#include "demos/rig_operator.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

// A colour image whose every pixel tells where it is: blue = x / 3, green =
// y / 2, red 255 on a grid of every 40th row.
IplImage* MakePositionImage() {
  IplImage* image = CreateImage(CvSize{640, 480}, 3, IPL_DEPTH_8U, true);
  for (int y = 0; y < 480; ++y) {
    auto* row = reinterpret_cast<uint8_t*>(image->imageData) + y * image->widthStep;
    for (int x = 0; x < 640; ++x) {
      row[3 * x] = static_cast<uint8_t>(x / 3);
      row[3 * x + 1] = static_cast<uint8_t>(y / 2);
      row[3 * x + 2] = y % 40 == 0 ? 255 : 0;
    }
  }
  return image;
}

class FitToWindowTest : public ::testing::TestWithParam<QSize> {
 protected:
  void SetUp() override {
    image_ = MakePositionImage();
    DrawImage(image_, windows_.form2->PbGraf1);
    DrawImage(image_, windows_.form2->PbGraf2);
  }
  void TearDown() override { ReleaseImage(&image_); }
  ScopedSettingsFolder settings_;
  Windows windows_;
  IplImage* image_ = nullptr;
};

TEST_P(FitToWindowTest, PanesFillTheWindowWithTheAspectKeptAndClicksGiveTheImagesPixels) {
  TForm2& display = *windows_.form2;
  display.show();
  display.FitToWindow1->trigger();
  display.resize(GetParam());
  TPane* left = display.PbGraf1;
  TPane* right = display.PbGraf2;
  EXPECT_EQ(left->size(), right->size());
  EXPECT_EQ(right->x(), left->geometry().right() + 1);
  // The aspect is kept, and one of the window's sides is filled.
  EXPECT_NEAR(left->width() * 3.0, left->height() * 4.0, 4.0);
  const bool fills_across = 2 * left->width() >= display.width() - 1;
  const bool fills_down = left->height() >= display.height() - display.LaMeasure->height() - 1;
  EXPECT_TRUE(fills_across || fills_down) << left->width() << " x " << left->height();
  EXPECT_GE(display.LaMeasure->y(), left->geometry().bottom());

  QSignalSpy clicks(right, &TPane::PixelClicked);
  const QImage painted = right->grab().toImage().convertToFormat(QImage::Format_RGB32);
  for (const cv::Point pixel :
       {cv::Point(5, 5), cv::Point(639, 479), cv::Point(123, 321), cv::Point(600, 40)}) {
    const double scale_x = static_cast<double>(right->width()) / 640;
    const double scale_y = static_cast<double>(right->height()) / 480;
    const QPoint at(static_cast<int>((pixel.x + 0.5) * scale_x), static_cast<int>((pixel.y + 0.5) * scale_y));
    QTest::mouseClick(right, Qt::LeftButton, {}, at);
    ASSERT_FALSE(clicks.isEmpty());
    const QPoint clicked = clicks.takeLast().at(0).toPoint();
    EXPECT_NEAR(clicked.x(), pixel.x, 1) << at.x();
    EXPECT_NEAR(clicked.y(), pixel.y, 1) << at.y();
    // What shows there is that pixel of the image.
    EXPECT_NEAR(qBlue(painted.pixel(at)), pixel.x / 3, 2);
    EXPECT_NEAR(qGreen(painted.pixel(at)), pixel.y / 2, 2);
  }
  // "Half Size" ends the fitting: the panes keep their size when the window grows.
  display.HalfSize1Click();
  display.resize(GetParam() + QSize(100, 100));
  EXPECT_EQ(left->size(), QSize(320, 240));
}

INSTANTIATE_TEST_SUITE_P(WindowSizes, FitToWindowTest, ::testing::Values(QSize(1500, 700), QSize(700, 900)),
                         [](const auto& info) {
                           return std::to_string(info.param.width()) + "x" +
                                  std::to_string(info.param.height());
                         });

class FilterRemovalTest : public ::testing::Test {
 protected:
  TForm1& form() { return windows_.form(); }
  QStringList Entries() const {
    QStringList names;
    for (int row = 0; row < windows_.form1->StereoFIlterListBox->count(); ++row)
      names << windows_.form1->StereoFIlterListBox->item(row)->text();
    return names;
  }
  ScopedSettingsFolder settings_;
  Windows windows_;
};

TEST_F(FilterRemovalTest, DeleteAndTheContextMenuTakeTheEntryOutAndTheFilterEnds) {
  rig_operator::DropPanel(form(), form().PaDiff);
  rig_operator::DropPanel(form(), form().PaDistort);
  rig_operator::DropPanel(form(), form().PaDepth);
  TFilterListBox* list = form().StereoFIlterListBox;
  const std::weak_ptr<TVidFilter> distort = form().FilterList[1].Filter;
  rig_operator::DoubleClickEntry(form(), 1);
  auto* dialog = dynamic_cast<QWidget*>(distort.lock()->Setup);
  ASSERT_TRUE(dialog != nullptr && dialog->isVisible());

  list->setCurrentRow(1);
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(Entries(), QStringList({"Difference", "Disparity"}));
  ASSERT_EQ(form().FilterList.size(), 2u);
  EXPECT_TRUE(ProcessEventsUntil([&] { return distort.expired(); }, 5s));
  EXPECT_TRUE(form().MeLog->toPlainText().contains("Filter removed: Distortion"));

  const std::weak_ptr<TVidFilter> disparity = form().FilterList[1].Filter;
  const QPoint on_entry = list->visualItemRect(list->item(1)).center();
  QContextMenuEvent menu_request(QContextMenuEvent::Mouse, on_entry, list->viewport()->mapToGlobal(on_entry));
  QCoreApplication::sendEvent(list->viewport(), &menu_request);
  ASSERT_TRUE(list->EntryMenu()->isVisible());
  ASSERT_EQ(list->EntryMenu()->actions().size(), 1);
  EXPECT_EQ(list->EntryMenu()->actions().front()->text(), "Remove");
  list->EntryMenu()->actions().front()->trigger();
  list->EntryMenu()->hide();
  EXPECT_EQ(Entries(), QStringList({"Difference"}));
  EXPECT_TRUE(ProcessEventsUntil([&] { return disparity.expired() && form().RetiringFilters() == 0; }, 10s));
  // Delete with nothing selected takes nothing out.
  list->clearSelection();
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(Entries(), QStringList({"Difference"}));
}

TEST_F(FilterRemovalTest, ThePanelsSayTheyAreDraggedOntoTheList) {
  for (const QWidget* panel :
       {static_cast<QWidget*>(form().PaDiff), static_cast<QWidget*>(form().PaDistort),
        static_cast<QWidget*>(form().PaColToGray), static_cast<QWidget*>(form().PaDepth)}) {
    EXPECT_TRUE(panel->toolTip().startsWith("Drag onto the filter list"))
        << panel->objectName().toStdString();
  }
}

// The rates the status panel shows, against the rate the rig is set to.
class LiveRatesPanelTest : public ::testing::TestWithParam<int> {
 protected:
  ScopedSettingsFolder settings_;
  Windows windows_;
};

double NumberAfter(const QString& text, const QString& label) {
  const QRegularExpressionMatch match = QRegularExpression(label + "([0-9]+\\.?[0-9]*)").match(text);
  return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

TEST_P(LiveRatesPanelTest, FramesAndPairsPerSecondMatchTheRigsRate) {
  REQUIRE_CAMERAS();
  TForm1& form = windows_.form();
  ASSERT_TRUE(rig_operator::SetUpBothCameras(form));
  form.tbFrameRate->setValue(GetParam());
  const double rate = GetParam() / 10.0;
  // Two seconds of rates after two and a half to settle at the new rate.
  ProcessEventsFor(4500ms);
  const QString text = form.LaRates->text();
  for (const char* label : {"Left ", "Right "}) {
    const double shown = NumberAfter(text, label);
    EXPECT_GT(shown, 0.6 * rate) << text.toStdString();
    EXPECT_LT(shown, 1.15 * rate) << text.toStdString();
  }
  const double pairs = NumberAfter(text, "Pairs ");
  EXPECT_GT(pairs, 0.4 * rate) << text.toStdString();
  EXPECT_LT(pairs, 1.15 * rate) << text.toStdString();
  EXPECT_TRUE(text.contains("Dropped ")) << text.toStdString();
  // The first panel keeps the device count.
  EXPECT_FALSE(form.StatusBar1->currentMessage().isEmpty());
  form.BuStopClick();
}

INSTANTIATE_TEST_SUITE_P(FrameRates, LiveRatesPanelTest, ::testing::Values(80, 40),
                         [](const auto& info) { return "tenths" + std::to_string(info.param); });

TEST(LiveRatesRecordingTest, TheRecordingsTimeAndFramesShowUntilItEnds) {
  ScopedSettingsFolder settings;
  Windows windows;
  windows.form().ShowRecording(65.4, 523, 521);
  EXPECT_TRUE(windows.form().LaRates->text().endsWith("Rec 01:05.4  523 / 521 frames"))
      << windows.form().LaRates->text().toStdString();
  windows.form().ShowRecording(-1, 0, 0);
  EXPECT_FALSE(windows.form().LaRates->text().contains("Rec"));
}

// Auto push on the simulated rig's board moved from pose to pose and held
// at each, as an operator does: on a loaded machine a board moving all the
// time is seldom steady for long enough.
TEST(AutoPushMovingBoardTest, SaysWhyItWaitsAndPushesViewsOfTheMovingBoard) {
  REQUIRE_CAMERAS();
  ScopedSettingsFolder settings;
  ScopedEnv held{"STEREO_SIM_SCENE_SPEED", "0"};
  const rig_operator::SimulatedRig rig;
  Windows windows;
  TForm1& form = windows.form();
  ASSERT_TRUE(rig_operator::SetUpBothCameras(form));
  rig_operator::DropPanel(form, form.PaDistort);
  TDistortFilter* filter = rig_operator::DistortFilterAt(form, 0);
  TFoDistortSetup* dialog = rig_operator::DialogOf(*filter);
  filter->ShowSetup();
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  dialog->findChild<QCheckBox*>("ChAutoPush")->setChecked(true);
  std::set<QString> reasons;
  QString last;
  QObject::connect(dialog->StatusBar1, &QStatusBar::messageChanged, dialog, [&](const QString& message) {
    const int at = message.indexOf("auto push: ");
    if (at < 0) return;
    last = message.mid(at + 11);
    // Numbers vary; the kind of reason is what counts.
    reasons.insert(last.section(' ', 0, 1));
  });
  const auto& views = filter->Calibration.Cameras[0].ViewCount;
  EXPECT_GE(rig_operator::HoldPosesUntil(rig, 0.8, 5s, [&] { return views >= 2; }), 0)
      << "reasons seen: " << QStringList(reasons.begin(), reasons.end()).join(", ").toStdString();
  EXPECT_TRUE(reasons.count("board moving") == 1)
      << QStringList(reasons.begin(), reasons.end()).join(", ").toStdString();
  EXPECT_TRUE(reasons.count("view 1") == 1);
  EXPECT_EQ(dialog->LaViewCount->text(), QString("%1 of 20").arg(filter->Calibration.Cameras[0].ViewCount));
  form.BuStopClick();
}

}  // namespace
