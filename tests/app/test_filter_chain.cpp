#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <map>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "app/Unit1.h"
#include "app/decimal_spin_edit.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "app_test_support.h"
#include "demos/rig_operator.h"
#include "fake_source.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

cv::Mat View(const IplImage* image) { return cv::cvarrToMat(image); }

class FilterChainTest : public ::testing::Test {
 protected:
  TForm1& form() { return windows_.form(); }
  std::vector<std::string> EntryNames() {
    std::vector<std::string> names;
    for (int row = 0; row < form().StereoFIlterListBox->count(); ++row) {
      names.push_back(form().StereoFIlterListBox->item(row)->text().toStdString());
    }
    return names;
  }
  TVidFilter& FilterAt(int row) { return *form().FilterList.at(row).Filter; }

  ScopedSettingsFolder folder_;
  Windows windows_;
};

TEST_F(FilterChainTest, DropsMakeFiltersInOrderAndTheOtherPanelsAddNothing) {
  for (QWidget* panel : {form().PaTrack, form().PaDiff, form().PaCalib, form().PaDistort, form().PaThres,
                         form().PaColToGray, form().PaBlur, form().PaDiff}) {
    rig_operator::DropPanel(form(), panel);
  }
  rig_operator::DropPanel(form(), form().BuStart);
  EXPECT_EQ(EntryNames(),
            (std::vector<std::string>{"Difference", "Distortion", "Calibration", "Difference"}));
  EXPECT_NE(dynamic_cast<TDiffFilter*>(&FilterAt(0)), nullptr);
  EXPECT_NE(dynamic_cast<TDistortFilter*>(&FilterAt(1)), nullptr);
  EXPECT_NE(dynamic_cast<TColToGrayFilter*>(&FilterAt(2)), nullptr);
  EXPECT_NE(&FilterAt(0), &FilterAt(3));
  EXPECT_EQ(form().StereoFIlterListBox->currentRow(), 3);
  for (int row = 0; row < 4; ++row) EXPECT_TRUE(form().StereoFIlterListBox->IsChecked(row)) << row;
}

TEST_F(FilterChainTest, ToggledBoxSwitchesItsOwnFilterAndDisabledFiltersPassThePair) {
  rig_operator::DropPanel(form(), form().PaDiff);
  rig_operator::DropPanel(form(), form().PaDiff);
  form().StereoFIlterListBox->setCurrentRow(1);
  // The user unticks the first entry while the second is selected.
  form().StereoFIlterListBox->item(0)->setCheckState(Qt::Unchecked);
  EXPECT_FALSE(FilterAt(0).Enabled);
  EXPECT_TRUE(FilterAt(1).Enabled);
  FilterAt(1).SetEnabled(false);
  EXPECT_FALSE(form().StereoFIlterListBox->IsChecked(1));

  auto left = std::make_unique<FakeSource>(32, 24, 3);
  auto right = std::make_unique<FakeSource>(32, 24, 3);
  IplImage* const left_image = left->Image;
  form().Device1 = std::move(left);
  form().Device2 = std::move(right);
  form().RunFilterChain(form().Device1->Image, form().Device2->Image);
  EXPECT_EQ(form().ProcessedLeft, left_image);
  // A double click on a difference entry asks for a new reference.
  form().StereoFIlterListBox->setCurrentRow(0);
  form().StereoFIlterListBoxDblClick();
  EXPECT_TRUE(dynamic_cast<TDiffFilter&>(FilterAt(0)).TakeReference);
}

TEST_F(FilterChainTest, DialogFieldsAndModeGoStraightToTheFilter) {
  rig_operator::DropPanel(form(), form().PaDistort);
  rig_operator::DoubleClickEntry(form(), 0);
  auto& filter = dynamic_cast<TDistortFilter&>(FilterAt(0));
  TFoDistortSetup* dialog = rig_operator::DialogOf(filter);
  ASSERT_TRUE(dialog != nullptr && dialog->isVisible());
  TDecimalSpinEdit* k1 = dialog->Field(TDistortField::Lk1);
  QApplication::setActiveWindow(dialog);
  k1->setFocus();
  ASSERT_TRUE(k1->hasFocus());
  k1->selectAll();
  QTest::keyClicks(k1, "12.5");
  EXPECT_FLOAT_EQ(filter.DistLeft[0], 0.00125f);
  EXPECT_EQ(k1->text(), "12.5");
  k1->stepBy(1);
  EXPECT_FLOAT_EQ(filter.DistLeft[0], 12.505f / 10000.0f);
  filter.SetF(2, 1, 0.0049f);
  EXPECT_EQ(dialog->Field(TDistortField::F21)->text(), "0.005");
  EXPECT_EQ(filter.Warp(2, 1), 0.0049f);
  dialog->CoMode->setCurrentIndex(kShowDistortionMap);
  EXPECT_EQ(filter.Mode, kShowDistortionMap);
  filter.SetMode(kCalibrateOnly);
  EXPECT_EQ(dialog->CoMode->currentIndex(), kCalibrateOnly);

  // The dialog made at start belongs to no filter: its buttons do nothing.
  TFoDistortSetup unbound;
  for (QPushButton* button : unbound.findChildren<QPushButton*>()) button->click();
  unbound.Field(TDistortField::F00)->setValue(3);
  EXPECT_TRUE(unbound.Memo1->toPlainText().isEmpty());
}

// The simulated rig's ground truth as its rig file gives it, at 640 x 480.
struct RigTruth {
  explicit RigTruth(const rig_operator::SimulatedRig& rig) {
    const std::string path = folder.filePath("truth.yml").toStdString();
    EXPECT_TRUE(rig.WriteRigFile(path, 640, 480));
    file.open(path, cv::FileStorage::READ);
  }
  cv::Mat Matrix(const char* key) const {
    cv::Mat value;
    file[key] >> value;
    value.convertTo(value, CV_64F);
    return value;
  }
  cv::Matx33d Camera(int index) const { return cv::Matx33d(Matrix(index == 1 ? "K1" : "K2").ptr<double>()); }
  double K1(int index) const { return Matrix(index == 1 ? "D1" : "D2").at<double>(0); }

  QTemporaryDir folder;
  cv::FileStorage file;
};

// The simulated rig in trigger mode, the board held still at chosen poses.
class RigChainTest : public FilterChainTest {
 protected:
  void SetUp() override {
    REQUIRE_CAMERAS();
    ASSERT_TRUE(rig_.Loaded());
    rig_.SetSceneTime(0.0);
    ASSERT_TRUE(rig_operator::SetUpBothCameras(form()));
    form().ChTrigger->setChecked(true);
    recorder_ = TVidFilter::Create<RecordingFilter>();
    form().FilterList.push_back({"Recorder", recorder_});
  }
  void TearDown() override {
    if (form().ChTrigger->isChecked()) form().ChTrigger->setChecked(false);
  }
  // Drops a panel and keeps the recorder behind the new filter.
  TVidFilter& Drop(QWidget* panel) {
    rig_operator::DropPanel(form(), panel);
    std::erase_if(form().FilterList, [this](const TFilterEntry& entry) { return entry.Filter == recorder_; });
    TVidFilter& dropped = *form().FilterList.back().Filter;
    form().FilterList.push_back({"Recorder", recorder_});
    return dropped;
  }
  bool WaitForPairs(size_t more) {
    const size_t target = recorder_->pairs.size() + more;
    // A loaded machine may take seconds for a pair of a sanitizer build.
    return ProcessEventsUntil([&] { return recorder_->pairs.size() >= target; }, 30s);
  }
  const ImagePair& LastPair() const { return recorder_->pairs.back(); }

  ScopedEnv still_{"STEREO_SIM_SCENE_SPEED", "0"};
  ScopedEnv clean_{"STEREO_SIM_NOISE", "0"};
  rig_operator::SimulatedRig rig_;
  std::shared_ptr<RecordingFilter> recorder_;
};

TEST_F(RigChainTest, DifferenceOfAStillSceneAfterAReferenceIsBlack) {
  Drop(form().PaDiff);
  ASSERT_TRUE(WaitForPairs(1));
  EXPECT_GT(cv::countNonZero(View(LastPair().Left()).reshape(1)), 0);
  rig_operator::DoubleClickEntry(form(), 0);
  ASSERT_TRUE(WaitForPairs(2));
  EXPECT_EQ(cv::countNonZero(View(LastPair().Left()).reshape(1)), 0);
  EXPECT_EQ(cv::countNonZero(View(LastPair().Right()).reshape(1)), 0);
}

TEST_F(RigChainTest, StartModelReproducesTheFramesAndMapsShowIdentityRamps) {
  ASSERT_TRUE(WaitForPairs(1));
  auto& filter = dynamic_cast<TDistortFilter&>(Drop(form().PaDistort));
  filter.SetMode(kShowDistortionMap);
  ASSERT_TRUE(WaitForPairs(1));
  const cv::Mat maps = View(LastPair().Left());
  for (const int x : {0, 200, 639})
    EXPECT_EQ(maps.at<cv::Vec3b>(100, x)[0], cv::saturate_cast<uint8_t>(x * 255.0 / 640));
  EXPECT_EQ(maps.at<cv::Vec3b>(479, 10)[1], cv::saturate_cast<uint8_t>(479 * 255.0 / 480));
  filter.SetMode(kCalibrateOnly);
  ASSERT_TRUE(WaitForPairs(2));
  EXPECT_EQ(cv::norm(View(LastPair().Left()), View(form().Device1->Image), cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(View(LastPair().Right()), View(form().Device2->Image), cv::NORM_INF), 0);
}

// Largest distance of a row's corners from the straight line through them.
double WorstRowBend(const std::vector<cv::Point2f>& corners) {
  double worst = 0;
  for (int row = 0; row < 6; ++row) {
    const std::vector<cv::Point2f> points(corners.begin() + row * 8, corners.begin() + row * 8 + 8);
    cv::Vec4f line;
    cv::fitLine(points, line, cv::DIST_L2, 0, 0.01, 0.01);
    for (const cv::Point2f& p : points) {
      worst = std::max<double>(worst, std::abs((p.x - line[2]) * line[1] - (p.y - line[3]) * line[0]));
    }
  }
  return worst;
}

// The board's corners found in a colour image, refined; none when the board
// is not found.
std::vector<cv::Point2f> BoardCorners(const IplImage* image) {
  cv::Mat grey;
  cv::cvtColor(View(image), grey, cv::COLOR_BGR2GRAY);
  std::vector<cv::Point2f> corners;
  if (!cv::findChessboardCorners(grey, {8, 6}, corners)) return {};
  cv::cornerSubPix(grey, corners, {5, 5}, {-1, -1},
                   {cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 40, 0.001});
  return corners;
}

// The row bend of the board found in a colour image; +infinity when the
// board is not found.
double RowBendOfBoard(const IplImage* image) {
  const std::vector<cv::Point2f> corners = BoardCorners(image);
  return corners.empty() ? std::numeric_limits<double>::infinity() : WorstRowBend(corners);
}

// Mean row distance of the same corners in the left and the right image;
// +infinity when either misses the board.
double MeanRowOffset(const IplImage* left, const IplImage* right) {
  const std::vector<cv::Point2f> a = BoardCorners(left), b = BoardCorners(right);
  if (a.empty() || a.size() != b.size()) return std::numeric_limits<double>::infinity();
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i].y - b[i].y);
  return sum / static_cast<double>(a.size());
}

TEST_F(RigChainTest, CalibrationThroughTheDialogRecoversTheLeftCameraAndStraightensItsLines) {
  auto& filter = dynamic_cast<TDistortFilter&>(Drop(form().PaDistort));
  rig_operator::DoubleClickEntry(form(), 0);
  TFoDistortSetup& dialog = *rig_operator::DialogOf(filter);
  dialog.CoMode->setCurrentIndex(kSearchForCheckerboard);
  ASSERT_EQ(rig_operator::PushStillPoses(rig_, dialog, 15), 15);
  dialog.findChild<QPushButton*>("BuCalib")->click();
  dialog.findChild<QPushButton*>("Button2")->click();

  const RigTruth truth(rig_);
  const cv::Matx33d camera = truth.Camera(1);
  const auto field = [&](TDistortField which) { return dialog.Field(which)->value(); };
  EXPECT_NEAR(field(TDistortField::Lfx), camera(0, 0), camera(0, 0) * 0.01);
  EXPECT_NEAR(field(TDistortField::Lfy), camera(1, 1), camera(1, 1) * 0.01);
  EXPECT_NEAR(field(TDistortField::Lcx), camera(0, 2), camera(0, 2) * 0.01);
  EXPECT_NEAR(field(TDistortField::Lcy), camera(1, 2), camera(1, 2) * 0.01);
  EXPECT_NEAR(field(TDistortField::Lk1), truth.K1(1) * 10000, 200);
  const QStringList log = dialog.Memo1->toPlainText().split('\n');
  // Pushes, the coverage, two lines a camera, one a view.
  ASSERT_EQ(log.size(), 15 + 1 + 4 + 15);
  EXPECT_EQ(log[14], "Images: 15 15");
  EXPECT_TRUE(log[15].startsWith("Coverage X "));
  EXPECT_TRUE(log[16].startsWith("Left  k1 -0.1"));
  EXPECT_TRUE(log[18].startsWith("Right  k1 "));
  EXPECT_TRUE(log[20].startsWith("View  1  left "));

  dialog.findChild<QPushButton*>("BuRecalc")->click();
  dialog.CoMode->setCurrentIndex(kCalibrateOnly);
  // A pose whose rows the lens bends most.
  rig_.SetSceneTime(30.5);
  ASSERT_TRUE(WaitForPairs(3));
  const double corrected = RowBendOfBoard(LastPair().Left());
  const double raw = RowBendOfBoard(form().Device1->Image);
  EXPECT_LT(corrected, 0.5);
  EXPECT_LT(corrected, raw / 2) << raw;
}

}  // namespace

namespace {

// The number after a label in a log line ("Baseline 4.8012 squares").
double Figure(const QString& log, const QString& label) {
  const int at = log.indexOf(label);
  return at < 0 ? std::numeric_limits<double>::infinity()
                : log.mid(at + label.size()).section(' ', 0, 0, QString::SectionSkipEmpty).toDouble();
}

TEST_F(RigChainTest, StereoCalibrationMeetsTheRigsTruthAndIsKeptInAFile) {
  auto& filter = dynamic_cast<TDistortFilter&>(Drop(form().PaDistort));
  rig_operator::DoubleClickEntry(form(), 0);
  TFoDistortSetup& dialog = *rig_operator::DialogOf(filter);
  dialog.findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  const RigTruth truth(rig_);
  dialog.findChild<QDoubleSpinBox*>("SeSquareSize")->setValue(static_cast<double>(truth.file["square_mm"]));
  dialog.CoMode->setCurrentIndex(kSearchForCheckerboard);
  ASSERT_EQ(rig_operator::PushStillPoses(rig_, dialog, 18), 18);
  dialog.findChild<QPushButton*>("BuCalib")->click();
  dialog.findChild<QPushButton*>("BuStereoCalib")->click();
  const QString log = dialog.Memo1->toPlainText();
  ASSERT_TRUE(filter.StereoResult.has_value()) << log.toStdString();

  for (const char* label : {"left ", "right "}) EXPECT_LT(Figure(log, label), 0.3) << label;
  EXPECT_LT(Figure(log, "Epipolar distance "), 0.3);
  EXPECT_LT(Figure(log, "Row error after warp "), 1.5);
  const cv::Matx33d k1_true = truth.Camera(1), k2_true = truth.Camera(2),
                    r_true(truth.Matrix("R").ptr<double>());
  const cv::Vec3d t_true(truth.Matrix("T").ptr<double>());
  const double baseline = cv::norm(t_true);
  EXPECT_NEAR(Figure(log, "Baseline "), baseline, 0.01 * baseline);
  cv::Vec3d residual;
  cv::Rodrigues(filter.StereoResult->R * r_true.t(), residual);
  EXPECT_LT(cv::norm(residual) * 180 / CV_PI, 0.2);
  const cv::Matx33d right(filter.CameraRight);
  for (const auto& [row, column] : {std::pair{0, 0}, {1, 1}, {0, 2}, {1, 2}}) {
    EXPECT_NEAR(filter.StereoResult->K1(row, column), k1_true(row, column), 0.005 * k1_true(row, column));
    EXPECT_NEAR(right(row, column), k2_true(row, column), 0.005 * k2_true(row, column));
  }
  EXPECT_NEAR(dialog.Field(TDistortField::Rk1)->value(), truth.K1(2) * 10000, 100);

  // The pair the window shows lines up: the warp of the right image, and
  // far better both images rectified.
  rig_.SetSceneTime(30.5);
  std::map<int, double> offsets;
  for (const int mode : {kCalibrateAndRectify, kRectifyBoth}) {
    dialog.CoMode->setCurrentIndex(mode);
    ASSERT_TRUE(WaitForPairs(3));
    offsets[mode] = MeanRowOffset(LastPair().Left(), LastPair().Right());
  }
  EXPECT_LT(offsets[kCalibrateAndRectify], 1.5);
  EXPECT_LT(offsets[kRectifyBoth], 0.3);
  EXPECT_LT(offsets[kRectifyBoth], offsets[kCalibrateAndRectify]);

  // Saved, read by anyone with one call, and loaded back into the fields.
  const std::string path = truth.folder.filePath("rig.yml").toStdString();
  ASSERT_TRUE(filter.SaveCalibration(path));
  cv::FileStorage file(path, cv::FileStorage::READ);
  for (const char* key : {"K1", "D1", "K2", "D2", "R", "T", "E", "F", "Warp", "R1", "R2", "P1", "P2", "Q"}) {
    EXPECT_FALSE(file[key].empty()) << key;
  }
  const QString fields = QString::fromStdString(rig_operator::FieldTexts(dialog));
  filter.SetRightFx(1);
  filter.SetF(0, 0, 7);
  ASSERT_TRUE(filter.LoadCalibration(path));
  EXPECT_EQ(QString::fromStdString(rig_operator::FieldTexts(dialog)), fields);

  // A damaged file changes nothing.
  std::ofstream(path, std::ios::trunc) << "%YAML:1.0\nK1: !!opencv-matrix\n  rows: 3\n  cols: [\n";
  filter.SetRightFx(2);
  EXPECT_FALSE(filter.LoadCalibration(path));
  EXPECT_EQ(filter.CameraRight(0, 0), 2.0f);
  EXPECT_TRUE(dialog.Memo1->toPlainText().endsWith("is not a calibration file") ||
              dialog.Memo1->toPlainText().endsWith("is damaged"));
}

}  // namespace
