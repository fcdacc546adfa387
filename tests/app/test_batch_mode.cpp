// The batch commands through the real program: a views folder of a rig of
// known geometry calibrated, the depth files of a recorded pair made, and
// every input it can not use refused with its exit code and a clear line.

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "app/avifiles.h"
#include "filters/saved_views.h"
#include "filters/stereo_calibration.h"
#include "filters/ucalibfilter.h"
#include "tests/filters/drawn_board.h"

namespace {

QString ProgramPath() { return QCoreApplication::applicationDirPath() + "/stereo"; }

struct ProgramRun {
  int code = -1;
  std::string out;
  std::string err;
};

ProgramRun RunProgram(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  process.setProcessEnvironment(environment);
  process.start(ProgramPath(), arguments);
  if (!process.waitForStarted(10000) || !process.waitForFinished(300000)) return {};
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

// The rig the views are drawn for: two pinhole cameras 120 mm apart, the
// right one turned a little, and a board of 9 x 6 inner corners of 25 mm.
constexpr double kBaseline_mm = 120.0;
constexpr double kSquare_mm = 25.0;
constexpr int kViews = 12;
const cv::Size kImage(640, 480);
const cv::Matx33d kCamera(700, 0, 320, 0, 700, 240, 0, 0, 1);

// The board as one camera sees it: X_camera = rotation * X_board + shift, in
// mm from its inner corner (0, 0); the drawn board's edge is two squares out.
cv::Mat SeenBoard(const cv::Matx33d& rotation, const cv::Vec3d& shift) {
  std::vector<cv::Point2f> edge;
  for (const auto& [x, y] : {std::pair{-2, -2}, {9, -2}, {9, 7}, {-2, 7}}) {
    const cv::Vec3d seen = kCamera * (rotation * cv::Vec3d(x * kSquare_mm, y * kSquare_mm, 0) + shift);
    edge.emplace_back(static_cast<float>(seen[0] / seen[2]), static_cast<float>(seen[1] / seen[2]));
  }
  return DrawBoard(edge).image;
}

// Pose `pose` of the board seen by both cameras.
std::vector<cv::Mat> ViewPair(int pose) {
  const cv::Vec3d turn(0.3 * ((pose % 3) - 1), 0.35 * ((pose % 4) - 1.5) / 1.5, 0.1 * ((pose % 5) - 2));
  cv::Matx33d board;
  cv::Rodrigues(turn, board);
  const cv::Vec3d shift(-60 + 12.0 * (pose % 5), -60 + 10.0 * (pose % 4), 650 + 25.0 * (pose % 6));
  cv::Matx33d right_turn;
  cv::Rodrigues(cv::Vec3d(0, 0.03, 0), right_turn);
  const cv::Vec3d baseline(-kBaseline_mm, 0, 0);
  return {SeenBoard(board, shift), SeenBoard(right_turn * board, right_turn * shift + baseline)};
}

// A file pair of these frames, or none.
void WritePair(const std::string& stem, const std::vector<std::vector<cv::Mat>>& pairs) {
  TAviWriter files[2];
  for (int side = 0; side < 2; ++side)
    ASSERT_TRUE(files[side].Open(stem + (side == 0 ? "L.avi" : "R.avi"), CodecCode("FFV1"), 5, kImage.width,
                                 kImage.height, 3));
  for (const auto& pair : pairs) {
    for (int side = 0; side < 2; ++side) {
      IplImage image = cvIplImage(pair[side]);
      ASSERT_TRUE(files[side].Write(&image));
    }
  }
}

class BatchModeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new QTemporaryDir;
    TCalibrationFilter views;
    views.SetCameraCount(2);
    views.SetBoardSize(8, 6);
    views.SquareSize_mm = kSquare_mm;
    std::vector<std::vector<cv::Mat>> recorded;
    for (int pose = 0; pose < kViews; ++pose) {
      std::vector<cv::Mat> pair = ViewPair(pose);
      if (pose < 3) recorded.push_back({pair[0].clone(), pair[1].clone()});
      views.FindCorners(pair);
      views.PushView();
    }
    pushed_ = views.Cameras[0].ViewCount;
    SaveViews(views, Path("views"));
    WritePair(Path("run"), recorded);
    WritePair(Path("empty"), {});
    std::ofstream(Path("damaged.yml")) << "%YAML:1.0\nK1: 3\n";
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    if (!QFile::exists(ProgramPath())) GTEST_SKIP() << "stereo is not built beside the tests";
  }
  static std::string Path(const std::string& name) { return dir_->path().toStdString() + "/" + name; }

  static QTemporaryDir* dir_;
  static int pushed_;
};

QTemporaryDir* BatchModeTest::dir_ = nullptr;
int BatchModeTest::pushed_ = 0;

double FigureAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + label.size());
}

TEST_F(BatchModeTest, CalibratesTheViewsFolderAndMakesTheDepthFilesOfEveryPair) {
  ASSERT_EQ(pushed_, kViews) << "the drawn views must show the whole board";
  const std::string calibration = Path("calibration.yml");
  const ProgramRun calibrated =
      RunProgram({"--calibrate", QString::fromStdString(Path("views")), "--board", "8x6", "--square-mm", "25",
                  "--out", QString::fromStdString(calibration)});
  ASSERT_EQ(calibrated.code, 0) << calibrated.out << calibrated.err;
  EXPECT_EQ(FigureAfter(calibrated.out, "Views: "), kViews);
  for (const char* rms : {"Left camera rms: ", "Right camera rms: ", "Stereo rms: "}) {
    EXPECT_GT(FigureAfter(calibrated.out, rms), 0) << rms;
    EXPECT_LT(FigureAfter(calibrated.out, rms), 0.5) << rms;
  }
  EXPECT_NEAR(FigureAfter(calibrated.out, "Baseline: "), kBaseline_mm, 1.0) << calibrated.out;
  std::string why;
  const auto saved = ReadCalibrationFile(calibration, why);
  ASSERT_TRUE(saved) << why;
  EXPECT_TRUE(RectificationRefusal(*saved).empty());
  EXPECT_NEAR(saved->K1(0, 0), kCamera(0, 0), 3.0);
  EXPECT_NEAR(cv::norm(saved->T), kBaseline_mm, 1.0);

  const std::string depth = Path("depth");
  const ProgramRun measured =
      RunProgram({"--depth", QString::fromStdString(Path("runL.avi")), "--calibration",
                  QString::fromStdString(calibration), "--out", QString::fromStdString(depth)});
  ASSERT_EQ(measured.code, 0) << measured.out << measured.err;
  EXPECT_NE(measured.out.find("Depth: pair 3, 3 saved"), std::string::npos) << measured.out;
  for (const char* pair : {"000000", "000001", "000002"}) {
    for (const char* file : {"_disparity.png", "_left.png", "_depth.png", ".ply"})
      EXPECT_TRUE(std::filesystem::exists(depth + "/" + pair + file)) << pair << file;
  }
  EXPECT_FALSE(std::filesystem::exists(depth + "/000003_disparity.png"));
}

// A command line the program refuses: its words ({dir} the suite's folder),
// exit code and what standard error says.
struct Refusal {
  const char* name;
  std::vector<std::string> words;
  int code;
  const char* message;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class BatchRefusalTest : public BatchModeTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(BatchRefusalTest, ExitsWithItsCodeAndALine) {
  QStringList arguments;
  for (std::string word : GetParam().words) {
    if (const size_t at = word.find("{dir}"); at != std::string::npos)
      word.replace(at, 5, dir_->path().toStdString());
    arguments << QString::fromStdString(word);
  }
  const ProgramRun run = RunProgram(arguments);
  EXPECT_EQ(run.code, GetParam().code) << run.out << run.err;
  std::string message = GetParam().message;
  if (const size_t at = message.find("{dir}"); at != std::string::npos)
    message.replace(at, 5, dir_->path().toStdString());
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
}

const std::vector<std::string> kCalibrate{"--calibrate", "{dir}/views", "--board", "8x6",
                                          "--square-mm", "25",          "--out",   "{dir}/out.yml"};
std::vector<std::string> With(std::vector<std::string> words, size_t index, const std::string& word) {
  words.at(index) = word;
  return words;
}
const std::vector<std::string> kDepth{"--depth",           "{dir}/runL.avi", "--calibration",
                                      "{dir}/damaged.yml", "--out",          "{dir}/refused"};

INSTANTIATE_TEST_SUITE_P(
    Inputs, BatchRefusalTest,
    ::testing::Values(
        Refusal{"MissingFolder", With(kCalibrate, 1, "{dir}/nowhere"), 1,
                "Views folder {dir}/nowhere does not exist"},
        Refusal{"BoardText", With(kCalibrate, 3, "9by6"), 2,
                "--board needs the inner corners across and down"},
        Refusal{"BoardTooSmall", With(kCalibrate, 3, "1x6"), 2, "--board needs"},
        Refusal{"SquareSize", With(kCalibrate, 5, "-25"), 2, "--square-mm needs the squares' side in mm"},
        Refusal{"MissingOption",
                {"--calibrate", "{dir}/views", "--board", "8x6", "--out", "{dir}/out.yml"},
                2,
                "--calibrate needs --square-mm"},
        Refusal{"UnknownOption",
                {"--depth", "{dir}/runL.avi", "--fast", "1"},
                2,
                "Unknown option \"--fast\" for --depth"},
        Refusal{"UnreadableCalibration", kDepth, 1, "Calibration {dir}/damaged.yml can not be read"},
        Refusal{"MissingCalibration", With(kDepth, 3, "{dir}/none.yml"), 1,
                "Calibration {dir}/none.yml can not be read"},
        Refusal{"MissingRecording", With(kDepth, 1, "{dir}/lostL.avi"), 1,
                "File {dir}/lostL.avi can not be read"},
        Refusal{"NoPairs", With(kDepth, 1, "{dir}/emptyL.avi"), 1,
                "File pair {dir}/emptyL.avi holds no pairs"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
