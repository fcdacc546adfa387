// Calibration files of other tools: written, read back with the same
// figures, read by the tools' own readers, and refused where damaged.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <sstream>
#include <string>

#include "filters/formats/calibration_formats.h"
#include "filters/ucalibfilter.h"
#include "filters/vidfilters_distort.h"
#include "tests/filters/filter_fakes.h"
#include "tests/filters/rig_record.h"

namespace {

namespace fs = std::filesystem;

template <int Rows, int Cols>
double Largest(const cv::Matx<double, Rows, Cols>& a, const cv::Matx<double, Rows, Cols>& b) {
  return cv::norm(a, b, cv::NORM_INF);
}

class FormatFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ::testing::TempDir() + "formats_" + std::to_string(::getpid());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  std::string folder_;
};

class CalibrationFormats : public FormatFolder, public ::testing::WithParamInterface<const char*> {};

TEST_P(CalibrationFormats, RoundTripKeepsTheModelsThePairAndItsRectification) {
  const TStereoCalibration written = RigCalibration();
  const std::string path = Path(GetParam());
  std::string why;
  ASSERT_TRUE(WriteCalibrationAs(path, written, why)) << why;
  const auto read = ReadCalibrationAs(path, why);
  ASSERT_TRUE(read) << why;
  EXPECT_LT(Largest(read->K1, written.K1), 1e-9);
  EXPECT_LT(Largest(read->K2, written.K2), 1e-9);
  EXPECT_LT(cv::norm(read->D1, written.D1, cv::NORM_INF), 1e-12);
  EXPECT_LT(cv::norm(read->D2, written.D2, cv::NORM_INF), 1e-12);
  EXPECT_LT(Largest(read->R, written.R), 1e-9);
  EXPECT_LT(cv::norm(read->T, written.T, cv::NORM_INF), 1e-9);  // mm, whatever the file's unit
  EXPECT_LT(Largest(read->R1, written.R1), 1e-9);
  EXPECT_LT(Largest(read->R2, written.R2), 1e-9);
  EXPECT_LT(Largest(read->P1, written.P1), 1e-6);
  EXPECT_LT(Largest(read->P2, written.P2), 1e-6);
  EXPECT_LT(Largest(read->Q, written.Q), 1e-9);
  if (FormatOfPath(path) != TCalibrationFormat::OpenCvStereoSample) {
    EXPECT_EQ(read->ImageSize, written.ImageSize);
  }
}

TEST_P(CalibrationFormats, ModelsWithoutAPairComeBackWithoutOne) {
  TStereoCalibration models = RigCalibration();
  models.R = cv::Matx33d::eye();
  models.T = cv::Vec3d();
  models.R1 = models.R2 = cv::Matx33d::zeros();
  const std::string path = Path(GetParam());
  std::string why;
  ASSERT_TRUE(WriteCalibrationAs(path, models, why)) << why;
  const auto read = ReadCalibrationAs(path, why);
  ASSERT_TRUE(read) << why;
  EXPECT_LT(Largest(read->K2, models.K2), 1e-9);
  EXPECT_FALSE(RectificationRefusal(*read).empty());
}

TEST_P(CalibrationFormats, SaveAndLoadOfTheDistortionDialogTakeTheFormatOfTheName) {
  FakeMainWindow window;
  MainWindow = &window;
  auto saving = TVidFilter::Create<TDistortFilter>();
  const TStereoCalibration rig = RigCalibration();
  saving->StereoResult = rig;
  saving->SetLeftFx(static_cast<float>(rig.K1(0, 0)));
  saving->SetRightCy(static_cast<float>(rig.K2(1, 2)));
  const std::string path = Path(GetParam());
  ASSERT_TRUE(saving->SaveCalibration(path));
  auto loading = TVidFilter::Create<TDistortFilter>();
  // The sample pair keeps no image size: the frames' size stands in.
  loading->Calibration.Cameras[0].ImageSize = rig.ImageSize;
  const bool loaded = loading->LoadCalibration(path);
  MainWindow = nullptr;
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loading->CameraLeft(0, 0), static_cast<float>(rig.K1(0, 0)));
  EXPECT_EQ(loading->CameraRight(1, 2), static_cast<float>(rig.K2(1, 2)));
  ASSERT_TRUE(loading->StereoResult);
  EXPECT_LT(cv::norm(loading->StereoResult->T, rig.T, cv::NORM_INF), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Files, CalibrationFormats,
                         ::testing::Values("rig.yml", "left.yaml", "camchain.yaml", "left.cameramodel",
                                           "intrinsics.yml"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

// What a command prints, and whether it ran. Debian's own interpreter:
// the readers are its packages.
std::string Output(const std::string& command, int& status) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return status = -1, text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  status = ::pclose(pipe);
  return text;
}

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> values;
  std::istringstream in(text);
  for (double value; in >> value;) values.push_back(value);
  return values;
}

TEST_F(FormatFolder, RosOwnParserReadsBothCameras) {
  const TStereoCalibration c = RigCalibration();
  std::string why;
  ASSERT_TRUE(WriteCalibrationAs(Path("left.yaml"), c, why)) << why;
  for (const auto& [name, k, p] : {std::tuple{"left", c.K1, c.P1}, std::tuple{"right", c.K2, c.P2}}) {
    int status = 0;
    const std::string printed = Output(
        "/usr/bin/python3 -c \"import sys; from camera_calibration_parsers import readCalibration; "
        "n, i = readCalibration(sys.argv[1]); print(i.width, i.height, *i.K, *i.D, *i.P)\" " +
            Path(std::string(name) + ".yaml") + " 2>&1",
        status);
    ASSERT_EQ(status, 0) << printed;
    const std::vector<double> v = Numbers(printed);
    ASSERT_EQ(v.size(), 2u + 9 + 5 + 12) << printed;
    EXPECT_EQ(v[0], 640);
    EXPECT_EQ(v[1], 480);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(v[2 + i], k.val[i], 1e-9) << name << " K " << i;
    // P[0,3] = -fx * baseline in metres for the right camera.
    for (int i = 0; i < 12; ++i) {
      const double expected = i == 3 || i == 7 ? p.val[i] / 1000.0 : p.val[i];
      EXPECT_NEAR(v[16 + i], expected, 1e-9) << name << " P " << i;
    }
  }
}

TEST_F(FormatFolder, MrcalProjectsAsTheWorkbenchWithinAHundredthOfAPixel) {
  const TStereoCalibration c = RigCalibration();
  std::string why;
  ASSERT_TRUE(WriteCalibrationAs(Path("left.cameramodel"), c, why)) << why;
  // Points in front of the rig, in the left camera's frame, in metres.
  std::vector<cv::Point3d> points;
  for (int i = 0; i < 12; ++i) points.emplace_back(-0.6 + 0.1 * i, -0.4 + 0.07 * i, 1.0 + 0.2 * i);
  std::string list;
  for (const auto& p : points) list += FormatLine("[%.17g,%.17g,%.17g],", p.x, p.y, p.z);
  for (const char* name : {"left", "right"}) {
    int status = 0;
    const std::string printed = Output(
        "/usr/bin/python3 -c \"import sys, numpy, mrcal; m = mrcal.cameramodel(sys.argv[1]); "
        "p = mrcal.transform_point_rt(m.extrinsics_rt_fromref(), numpy.array([" +
            list + "])); print(*mrcal.project(p, *m.intrinsics()).ravel())\" " +
            Path(std::string(name) + ".cameramodel") + " 2>&1",
        status);
    ASSERT_EQ(status, 0) << printed;
    const std::vector<double> projected = Numbers(printed);
    ASSERT_EQ(projected.size(), 2 * points.size()) << printed;
    const bool left = std::string(name) == "left";
    cv::Vec3d rotation;
    cv::Rodrigues(left ? cv::Matx33d::eye() : c.R, rotation);
    std::vector<cv::Point2d> ours;
    cv::projectPoints(points, rotation, left ? cv::Vec3d() : c.T / 1000.0, left ? c.K1 : c.K2,
                      left ? c.D1 : c.D2, ours);
    for (size_t i = 0; i < points.size(); ++i) {
      EXPECT_NEAR(projected[2 * i], ours[i].x, 0.01) << name << " " << i;
      EXPECT_NEAR(projected[2 * i + 1], ours[i].y, 0.01) << name << " " << i;
    }
  }
}

// Files of other tools with what the workbench cannot take.
struct ForeignDamage {
  const char* name;
  const char* file;  // written from the rig, then changed
  const char* from;
  const char* to;
  const char* reason;
};

class DamagedForeignFile : public FormatFolder, public ::testing::WithParamInterface<ForeignDamage> {};

TEST_P(DamagedForeignFile, IsRefusedWithTheReason) {
  const ForeignDamage damage = GetParam();
  std::string why;
  ASSERT_TRUE(WriteCalibrationAs(Path(damage.file), RigCalibration(), why)) << why;
  std::ifstream in(Path(damage.file));
  std::stringstream text;
  text << in.rdbuf();
  std::string content = text.str();
  const size_t at = content.find(damage.from);
  ASSERT_NE(at, std::string::npos) << content;
  content.replace(at, std::string(damage.from).size(), damage.to);
  std::ofstream(Path(damage.file)) << content;
  EXPECT_FALSE(ReadCalibrationAs(Path(damage.file), why));
  EXPECT_NE(why.find(damage.reason), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedForeignFile,
    ::testing::Values(ForeignDamage{"RosK3", "left.yaml", ", 0]\nrectification", ", 0.1]\nrectification",
                                    "k3"},
                      ForeignDamage{"RosEquidistant", "left.yaml", "plumb_bob", "equidistant", "plumb_bob"},
                      ForeignDamage{"KalibrOmni", "camchain.yaml", "pinhole", "omni", "pinhole radtan"},
                      ForeignDamage{"KalibrZeroFocal", "camchain.yaml", "intrinsics: [500", "intrinsics: [0",
                                    "left camera is not a camera matrix"},
                      ForeignDamage{"MrcalPinhole", "left.cameramodel", "LENSMODEL_OPENCV4",
                                    "LENSMODEL_PINHOLE", "not a LENSMODEL_OPENCV4"},
                      ForeignDamage{"SampleK3", "intrinsics.yml", ", 0. ]", ", 0.5 ]", "k3 0"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
