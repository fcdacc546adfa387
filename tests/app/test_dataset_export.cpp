// Datasets in the EuRoC / ASL layout: a recording exported with its stamps
// and the calibration in force, through the plain function and the window's
// "Export…", and the sources exported for some seconds.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/dataset_export.h"
#include "app/filter_list_box.h"
#include "demos/rig_operator.h"
#include "fake_source.h"
#include "filters/formats/format_support.h"
#include "filters/stereo_calibration.h"
#include "filters/vidfilters_distort.h"
#include "playback_test_support.h"

namespace {

using namespace std::chrono_literals;
using namespace playback_test;
namespace fs = std::filesystem;

constexpr int kFrames = 5;

struct ListRow {
  int64_t time_ns;
  std::string file;
  bool operator==(const ListRow&) const = default;
};

// The rows of a camera's "data.csv" after its header, which must be the
// layout's own.
std::vector<ListRow> ReadList(const fs::path& camera) {
  std::ifstream in(camera / "data.csv");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "#timestamp [ns],filename");
  std::vector<ListRow> rows;
  while (std::getline(in, line)) {
    const size_t comma = line.find(',');
    rows.push_back({std::stoll(line.substr(0, comma)), line.substr(comma + 1)});
  }
  return rows;
}

std::vector<double> Numbers(const cv::FileNode& node, int count) {
  const auto numbers = formats::ReadNumbers(node, count);
  EXPECT_TRUE(numbers.has_value()) << node.name();
  return numbers.value_or(std::vector<double>(count, NAN));
}

// A pair calibrated together: the right camera 60 mm to the right, turned.
TStereoCalibration PairCalibration() {
  TStereoCalibration calibration;
  calibration.K1 = cv::Matx33d(70.5, 0, 31.25, 0, 71.5, 23.75, 0, 0, 1);
  calibration.K2 = cv::Matx33d(69.0, 0, 33.5, 0, 68.5, 22.0, 0, 0, 1);
  calibration.D1 = cv::Vec4d(-0.25, 0.08, 0.001, -0.002);
  calibration.D2 = cv::Vec4d(-0.2, 0.05, 0.0, 0.003);
  cv::Rodrigues(cv::Vec3d(0.01, -0.1, 0.02), calibration.R);
  calibration.T = cv::Vec3d(-60.0, 0.5, 1.5);
  calibration.SquareSize_mm = 25;
  return calibration;
}

// How the dataset is made and what it must hold.
struct ExportCase {
  const char* name;
  bool stamped;
  // None: the window's distortion filter or, without one, a nominal model.
  bool pair_calibration;
  bool through_window;
  bool distort_filter;
};

class DatasetExportTest : public ::testing::TestWithParam<ExportCase> {
 protected:
  std::string Path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  fs::path Camera(int camera) const {
    return fs::path(Path("set")) / "mav0" / ("cam" + std::to_string(camera));
  }
  // The calibration the sensor files must describe; with `calibrated`
  // false, the nominal model is expected.
  TStereoCalibration Expected(bool& calibrated) const {
    calibrated = GetParam().pair_calibration || GetParam().distort_filter;
    if (GetParam().pair_calibration) return PairCalibration();
    TStereoCalibration typed;
    typed.K1 = cv::Matx33d(80, 0, 30, 0, 81, 25, 0, 0, 1);
    typed.K2 = cv::Matx33d(82, 0, 33, 0, 83, 22, 0, 0, 1);
    // Values a float keeps exactly: the filter holds floats.
    typed.D1 = cv::Vec4d(0.125, 0.015625, 0, 0);
    typed.D2 = cv::Vec4d(-0.0625, 0.03125, 0, 0);
    if (!calibrated) {
      typed.K1 = typed.K2 = cv::Matx33d(kWidth, 0, kWidth / 2.0, 0, kWidth, kHeight / 2.0, 0, 0, 1);
      typed.D1 = typed.D2 = cv::Vec4d::all(0);
    }
    return typed;
  }
  void ExportThroughWindow(const TStereoCalibration& typed) {
    TForm1& form = windows_.form();
    if (GetParam().distort_filter) {
      rig_operator::DropPanel(form, form.PaDistort);
      auto& filter = dynamic_cast<TDistortFilter&>(*form.FilterList.at(0).Filter);
      filter.CameraLeft = typed.K1;
      filter.CameraRight = typed.K2;
      filter.DistLeft = typed.D1;
      filter.DistRight = typed.D2;
    }
    OpenRecording(form, Path("runR.avi"));
    ChooseWith(
        form.BuExport, [&form] { return form.ExportDialog; }, Path("set"));
  }

  ScopedSettingsFolder settings_;
  QTemporaryDir dir_;
  Windows windows_;
};

TEST_P(DatasetExportTest, LayoutListsAndSensorFilesReadBack) {
  ASSERT_TRUE(WriteKnownRecording(Path("run.avi"), kFrames, GetParam().stamped));
  bool calibrated = false;
  const TStereoCalibration expected = Expected(calibrated);
  fs::create_directories(Path("set"));
  if (GetParam().through_window) {
    ExportThroughWindow(expected);
    EXPECT_TRUE(LogOf(windows_.form()).contains(QString("Export: %1 pairs of").arg(kFrames)));
  } else {
    std::vector<std::string> lines;
    ASSERT_TRUE(ExportRecording(Path("runL.avi"), Path("set"), calibrated ? &expected : nullptr, lines));
  }

  // Both cameras list the same times: the stamps' pair times, else frame
  // index over the file's rate.
  const std::vector<ListRow> rows = ReadList(Camera(0));
  ASSERT_EQ(rows.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(ReadList(Camera(1)), rows);
  for (int k = 0; k < kFrames; ++k) {
    const int64_t time = GetParam().stamped ? KnownStamp(k).Time_ns : std::llround(k * 1e9 / kFileRate);
    EXPECT_EQ(rows[k].time_ns, time);
    EXPECT_EQ(rows[k].file, std::to_string(time) + ".png");
    for (int camera = 0; camera < 2; ++camera) {
      cv::Mat image = cv::imread((Camera(camera) / "data" / rows[k].file).string());
      ASSERT_FALSE(image.empty()) << rows[k].file;
      IplImage header = cvIplImage(image);
      EXPECT_EQ(ClosestFrame(&header, kFrames, camera), k);
    }
  }

  for (int camera = 0; camera < 2; ++camera) {
    std::string why;
    auto yaml = formats::OpenYaml((Camera(camera) / "sensor.yaml").string(), why);
    ASSERT_TRUE(yaml.has_value()) << why;
    EXPECT_EQ(static_cast<std::string>((*yaml)["sensor_type"]), "camera");
    EXPECT_EQ(static_cast<std::string>((*yaml)["camera_model"]), "pinhole");
    EXPECT_EQ(static_cast<std::string>((*yaml)["distortion_model"]), "radial-tangential");
    EXPECT_DOUBLE_EQ(static_cast<double>((*yaml)["rate_hz"]), kFileRate);
    EXPECT_EQ(Numbers((*yaml)["resolution"], 2), (std::vector<double>{kWidth, kHeight}));
    const cv::Matx33d& k = camera == 0 ? expected.K1 : expected.K2;
    EXPECT_EQ(Numbers((*yaml)["intrinsics"], 4), (std::vector<double>{k(0, 0), k(1, 1), k(0, 2), k(1, 2)}));
    const cv::Vec4d& d = camera == 0 ? expected.D1 : expected.D2;
    EXPECT_EQ(Numbers((*yaml)["distortion_coefficients"], 4), (std::vector<double>(d.val, d.val + 4)));

    // cam0 is the body; cam1 sits at its pose in cam0's frame, in metres.
    const std::vector<double> pose = Numbers((*yaml)["T_BS"]["data"], 16);
    cv::Matx44d sensor = cv::Matx44d::eye();
    if (camera == 1 && GetParam().pair_calibration) {
      const cv::Matx33d back = expected.R.t();
      const cv::Vec3d origin = -(back * expected.T) / 1000.0;
      for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) sensor(row, column) = back(row, column);
        sensor(row, 3) = origin[row];
      }
    }
    for (int i = 0; i < 16; ++i)
      EXPECT_NEAR(pose[i], sensor.val[i], 1e-12) << "cam" << camera << " T_BS " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Recordings, DatasetExportTest,
                         ::testing::Values(ExportCase{"StampedWithPairCalibration", true, true, false, false},
                                           ExportCase{"UnstampedNominal", false, false, false, false},
                                           ExportCase{"WindowWithDistortionFilter", true, false, true, true},
                                           ExportCase{"WindowWithoutCalibration", false, false, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DatasetExport, RefusalsAreLoggedAndWriteNothing) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  std::vector<std::string> lines;
  EXPECT_FALSE(ExportRecording(base + "/noneL.avi", base + "/set", nullptr, lines));
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0], "Export: no file of " + base + "/noneL.avi can be read");
  EXPECT_FALSE(fs::exists(base + "/set"));

  ASSERT_TRUE(WriteKnownRecording(base + "/run.avi", 2, false));
  // A file where the dataset's folder should go.
  std::ofstream(base + "/taken") << "x";
  lines.clear();
  EXPECT_FALSE(ExportRecording(base + "/runL.avi", base + "/taken", nullptr, lines));
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("can not be written"), std::string::npos) << lines.back();
}

TEST(DatasetExport, SourcesExportedForTheirSecondsShareEachPairsTime) {
  ScopedSettingsFolder settings;
  QTemporaryDir dir;
  Windows windows;
  TForm1& form = windows.form();
  form.BuExportLive->click();
  EXPECT_TRUE(LogOf(form).contains("Export: no source to export"));

  form.Device1 = std::make_unique<FakeSource>(kWidth, kHeight, 3);
  form.Device2 = std::make_unique<FakeSource>(kWidth, kHeight, 1);
  form.EdExportSeconds->setValue(1);
  const std::string set = dir.path().toStdString() + "/live";
  fs::create_directories(set);
  ChooseWith(
      form.BuExportLive, [&form] { return form.ExportDialog; }, set);
  ASSERT_TRUE(form.ExportingLive());
  for (int k = 0; k < 3; ++k) {
    KnownFrame(k, 0).copyTo(cv::cvarrToMat(form.Device1->Image));
    cv::Mat grey;
    cv::cvtColor(KnownFrame(k, 1), grey, cv::COLOR_BGR2GRAY);
    grey.copyTo(cv::cvarrToMat(form.Device2->Image));
    form.Post(kFirstSourceMessage);
    form.Post(kSecondSourceMessage);
    QCoreApplication::sendPostedEvents(&form);
  }
  ASSERT_TRUE(ProcessEventsUntil([&] { return !form.ExportingLive(); }, 10s));
  EXPECT_TRUE(LogOf(form).contains("Export: 3 pairs of the sources written to")) << LogOf(form).toStdString();
  const fs::path mav0 = fs::path(set) / "mav0";
  const std::vector<ListRow> rows = ReadList(mav0 / "cam0");
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(ReadList(mav0 / "cam1"), rows);
  for (int k = 0; k < 3; ++k) {
    const cv::Mat left = cv::imread((mav0 / "cam0" / "data" / rows[k].file).string(), cv::IMREAD_UNCHANGED);
    const cv::Mat right = cv::imread((mav0 / "cam1" / "data" / rows[k].file).string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(left.channels(), 3);
    ASSERT_EQ(right.channels(), 1);
    EXPECT_EQ(cv::norm(left, KnownFrame(k, 0), cv::NORM_INF), 0) << k;
  }
  std::string why;
  auto yaml = formats::OpenYaml((mav0 / "cam1" / "sensor.yaml").string(), why);
  ASSERT_TRUE(yaml.has_value()) << why;
  EXPECT_EQ(Numbers((*yaml)["resolution"], 2), (std::vector<double>{kWidth, kHeight}));
  EXPECT_GT(static_cast<double>((*yaml)["rate_hz"]), 0);
}

}  // namespace
