// Datasets in the EuRoC / ASL layout: recordings and folders exported with
// their times and the calibration in force, through the plain function and
// the window's "Export…", and the sources exported for some seconds.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSpinBox>
#include <cmath>
#include <fstream>
#include <opencv2/calib3d.hpp>

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

// The rows of a camera's "data.csv" after its header, which must be the
// layout's own.
std::vector<std::pair<int64_t, std::string>> ReadList(const fs::path& camera) {
  std::ifstream in(camera / "data.csv");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "#timestamp [ns],filename");
  std::vector<std::pair<int64_t, std::string>> rows;
  while (std::getline(in, line)) rows.emplace_back(std::stoll(line), line.substr(line.find(',') + 1));
  return rows;
}

std::vector<double> Numbers(const cv::FileNode& node, int count) {
  return formats::ReadNumbers(node, count).value_or(std::vector<double>(count, NAN));
}

enum class Calibration { Pair, DistortFilter, None };

// The models the sensor files must describe: a pair calibrated together,
// the right camera 60 mm to the right and turned; models typed into the
// distortion filter (values a float keeps); or the nominal one.
TStereoCalibration Expected(Calibration kind) {
  TStereoCalibration c;
  if (kind == Calibration::None) {
    c.K1 = c.K2 = cv::Matx33d(kWidth, 0, kWidth / 2.0, 0, kWidth, kHeight / 2.0, 0, 0, 1);
    return c;
  }
  c.K1 = cv::Matx33d(70.5, 0, 31.25, 0, 71.5, 23.75, 0, 0, 1);
  c.K2 = cv::Matx33d(69.0, 0, 33.5, 0, 68.5, 22.0, 0, 0, 1);
  c.D1 = cv::Vec4d(-0.25, 0.125, 0.0625, -0.03125);
  c.D2 = cv::Vec4d(-0.5, 0.25, 0.0, 0.015625);
  if (kind == Calibration::Pair) {
    cv::Rodrigues(cv::Vec3d(0.01, -0.1, 0.02), c.R);
    c.T = cv::Vec3d(-60.0, 0.5, 1.5);
    c.SquareSize_mm = 25;
  }
  return c;
}

struct ExportCase {
  const char* name;
  // "recording", "stamped recording" or "folder".
  const char* input;
  Calibration calibration;
  bool through_window;
};

class DatasetExportTest : public ::testing::TestWithParam<ExportCase> {
 protected:
  fs::path Camera(int camera) const {
    return fs::path(dir_.Path("set")) / "mav0" / ("cam" + std::to_string(camera));
  }
  void Export(const TStereoCalibration& calibration) {
    const std::string input = GetParam().input;
    const std::string chosen =
        input == "folder" ? WriteImagePairs(dir_, kFrames, false) : dir_.Path("runR.avi");
    if (input != "folder") {
      ASSERT_TRUE(WriteKnownRecording(dir_.Path("run.avi"), kFrames, input == "stamped recording"));
    }
    fs::create_directories(dir_.Path("set"));
    if (!GetParam().through_window) {
      std::vector<std::string> lines;
      ASSERT_TRUE(ExportRecording(chosen, dir_.Path("set"), &calibration, lines));
      return;
    }
    TForm1& form = windows_.form();
    if (GetParam().calibration == Calibration::DistortFilter) {
      rig_operator::DropPanel(form, form.PaDistort);
      auto& filter = dynamic_cast<TDistortFilter&>(*form.FilterList.at(0).Filter);
      filter.CameraLeft = calibration.K1;
      filter.CameraRight = calibration.K2;
      filter.DistLeft = calibration.D1;
      filter.DistRight = calibration.D2;
    }
    input == "folder" ? OpenFolder(form, chosen) : OpenRecording(form, chosen);
    ChooseWith(
        form.BuExport, [&form] { return form.ExportDialog; }, dir_.Path("set"));
    EXPECT_TRUE(LogOf(form).contains(QString("Export: %1 pairs of").arg(kFrames)))
        << LogOf(form).toStdString();
  }

  TestFolder dir_;
  Windows windows_;
};

TEST_P(DatasetExportTest, LayoutListsAndSensorFilesReadBack) {
  const TStereoCalibration expected = Expected(GetParam().calibration);
  Export(expected);

  // Both cameras list the same times: the stamps' pair times, else the
  // index over the rate.
  const auto rows = ReadList(Camera(0));
  ASSERT_EQ(rows.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(ReadList(Camera(1)), rows);
  const bool stamped = std::string(GetParam().input) == "stamped recording";
  for (int k = 0; k < kFrames; ++k) {
    const int64_t time = stamped ? KnownStamp(k).Time_ns : std::llround(k * 1e9 / kFileRate);
    EXPECT_EQ(rows[k], std::pair(time, std::to_string(time) + ".png"));
    for (int camera = 0; camera < 2; ++camera)
      EXPECT_EQ(
          ClosestFrame(cv::imread((Camera(camera) / "data" / rows[k].second).string()), kFrames, camera), k);
  }

  for (int camera = 0; camera < 2; ++camera) {
    std::string why;
    auto yaml = formats::OpenYaml((Camera(camera) / "sensor.yaml").string(), why);
    ASSERT_TRUE(yaml.has_value()) << why;
    for (auto [key, value] : {std::pair{"sensor_type", "camera"},
                              {"camera_model", "pinhole"},
                              {"distortion_model", "radial-tangential"}})
      EXPECT_EQ(static_cast<std::string>((*yaml)[key]), value);
    EXPECT_DOUBLE_EQ(static_cast<double>((*yaml)["rate_hz"]), kFileRate);
    EXPECT_EQ(Numbers((*yaml)["resolution"], 2), (std::vector<double>{kWidth, kHeight}));
    const cv::Matx33d& k = camera == 0 ? expected.K1 : expected.K2;
    EXPECT_EQ(Numbers((*yaml)["intrinsics"], 4), (std::vector<double>{k(0, 0), k(1, 1), k(0, 2), k(1, 2)}));
    const cv::Vec4d& d = camera == 0 ? expected.D1 : expected.D2;
    EXPECT_EQ(Numbers((*yaml)["distortion_coefficients"], 4), (std::vector<double>(d.val, d.val + 4)));

    // cam0 is the body; cam1 sits at its pose in cam0's frame, in metres.
    cv::Matx44d pose = cv::Matx44d::eye();
    if (camera == 1 && GetParam().calibration == Calibration::Pair) {
      const cv::Vec3d origin = -(expected.R.t() * expected.T) / 1000.0;
      for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) pose(row, column) = expected.R(column, row);
        pose(row, 3) = origin[row];
      }
    }
    const std::vector<double> written = Numbers((*yaml)["T_BS"]["data"], 16);
    for (int i = 0; i < 16; ++i)
      EXPECT_NEAR(written[i], pose.val[i], 1e-12) << "cam" << camera << " T_BS " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DatasetExportTest,
    ::testing::Values(ExportCase{"StampedWithPairCalibration", "stamped recording", Calibration::Pair, false},
                      ExportCase{"WindowWithDistortionFilter", "recording", Calibration::DistortFilter, true},
                      ExportCase{"FolderWithoutCalibration", "folder", Calibration::None, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DatasetExport, SourcesExportedForTheirSecondsShareEachPairsTime) {
  TestFolder dir;
  Windows windows;
  TForm1& form = windows.form();
  form.BuExportLive->click();
  EXPECT_TRUE(LogOf(form).contains("Export: no source to export"));

  form.Device1 = std::make_unique<FakeSource>(kWidth, kHeight, 3);
  form.Device2 = std::make_unique<FakeSource>(kWidth, kHeight, 3);
  form.EdExportSeconds->setValue(1);
  fs::create_directories(dir.Path("live"));
  ChooseWith(
      form.BuExportLive, [&form] { return form.ExportDialog; }, dir.Path("live"));
  ASSERT_TRUE(form.ExportingLive());
  for (int k = 0; k < 3; ++k) {
    KnownFrame(k, 0).copyTo(cv::cvarrToMat(form.Device1->Image));
    KnownFrame(k, 1).copyTo(cv::cvarrToMat(form.Device2->Image));
    form.Post(kFirstSourceMessage);
    form.Post(kSecondSourceMessage);
    QCoreApplication::sendPostedEvents(&form);
  }
  ASSERT_TRUE(ProcessEventsUntil([&] { return !form.ExportingLive(); }, 10s));
  EXPECT_TRUE(LogOf(form).contains("Export: 3 pairs of the sources written to")) << LogOf(form).toStdString();
  const fs::path mav0 = fs::path(dir.Path("live")) / "mav0";
  const auto rows = ReadList(mav0 / "cam0");
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(ReadList(mav0 / "cam1"), rows);
  for (int k = 0; k < 3; ++k) {
    for (int camera = 0; camera < 2; ++camera) {
      const cv::Mat image =
          cv::imread((mav0 / ("cam" + std::to_string(camera)) / "data" / rows[k].second).string());
      EXPECT_EQ(cv::norm(image, KnownFrame(k, camera), cv::NORM_INF), 0) << k;
    }
  }
}

}  // namespace
