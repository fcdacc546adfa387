// Damaged calibration files, views.yml files and views folders, each
// refused with a line while what was in force stays.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "filters/saved_views.h"
#include "filters/stereo_calibration.h"
#include "filters/vidfilters_distort.h"
#include "tests/filters/drawn_board.h"
#include "tests/filters/filter_fakes.h"
#include "tests/filters/rig_record.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The text with the entry of `key` (its line and the lines indented below
// it) replaced by `key: value`.
std::string WithEntry(const std::string& text, const std::string& key, const std::string& value) {
  std::istringstream lines(text);
  std::string result, line;
  bool skipping = false;
  while (std::getline(lines, line)) {
    if (skipping && line.starts_with(" ")) continue;
    skipping = line.starts_with(key + ":");
    if (skipping) {
      result += key + ": " + value + "\n";
    } else {
      result += line + "\n";
    }
  }
  return result;
}

std::string Matrix(int rows, int cols, const std::string& element) {
  std::string data;
  for (int i = 0; i < rows * cols; ++i) data += (i > 0 ? ", " : "") + element;
  return "!!opencv-matrix\n   rows: " + std::to_string(rows) + "\n   cols: " + std::to_string(cols) +
         "\n   dt: d\n   data: [ " + data + " ]";
}

std::string Repeated(const std::string& part, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += part;
  return text;
}

// A distortion filter with its log, as the dialog has it.
class DistortFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MainWindow = &main_window_;
    filter_ = TVidFilter::Create<TDistortFilter>();
    folder_ = ::testing::TempDir() + "calibration_badinput_" + std::to_string(::getpid());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    filter_.reset();
    MainWindow = nullptr;
    fs::remove_all(folder_);
  }
  const std::vector<std::string>& Log() const {
    return static_cast<FakeDistortSetup*>(filter_->Calibration.LogMemo)->memo;
  }
  std::string LastLine() const { return Log().empty() ? "" : Log().back(); }
  std::string AllLines() const {
    std::string text;
    for (const std::string& line : Log()) text += line + "\n";
    return text;
  }
  // Loads a views folder as the dialog does, waiting for the load to end.
  void LoadViewsAndWait(const std::string& folder) {
    ASSERT_TRUE(filter_->LoadViews(folder)) << AllLines();
    while (filter_->LoadViewsStep()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  FakeMainWindow main_window_;
  std::unique_ptr<TDistortFilter> filter_;
  std::string folder_;
};

struct DamagedFile {
  const char* name;
  std::function<std::string(const std::string& text)> damage;
  const char* reason;  // a part of the line that refuses it
};

std::string Entry(const std::string& text, const char* key, const std::string& value) {
  return WithEntry(text, key, value);
}

const DamagedFile kDamagedCalibrations[] = {
    {"BoardOf100000By100000Corners",
     [](const std::string& t) { return Entry(Entry(t, "board_width", "100000"), "board_height", "100000"); },
     "Board 100000 x 100000 refused"},
    {"BoardOf100000By6", [](const std::string& t) { return Entry(t, "board_width", "100000"); },
     "Board 100000 x 6 refused"},
    {"BoardSizeAsText", [](const std::string& t) { return Entry(t, "board_width", "eight"); },
     "board_width and board_height are not numbers"},
    {"NestedFiftyThousandBrackets",
     [](const std::string& t) { return t + "deep: " + Repeated("[", 50000) + Repeated("]", 5000) + "\n"; },
     "nests deeper than 16 levels"},
    {"NestedFiftyThousandSequences",
     [](const std::string& t) { return t + "deep:\n" + Repeated("- ", 50000) + "x\n"; }, "larger than 64 kB"},
    {"NestedTwentyThousandSequences",
     [](const std::string& t) { return t + "deep:\n" + Repeated("- ", 20000) + "x\n"; },
     "nests deeper than 16 levels"},
    {"AllZeroCameraMatrix", [](const std::string& t) { return Entry(t, "K1", Matrix(3, 3, "0.")); },
     "K1 is not a camera matrix"},
    {"RotationOf1e300", [](const std::string& t) { return Entry(t, "R", Matrix(3, 3, "1e300")); },
     "R is not a rotation"},
    {"ImageWidthOfIntMax", [](const std::string& t) { return Entry(t, "image_width", "2147483647"); },
     "image_width and image_height are not sizes"},
    {"ImageWidthAsText", [](const std::string& t) { return Entry(t, "image_width", "wide"); },
     "image_width and image_height are not sizes"},
    {"SquareSizeOf1_8e308mm", [](const std::string& t) { return Entry(t, "square_size_mm", "1.8e308"); },
     "square_size_mm is not above 0"},
    {"ZeroRectification", [](const std::string& t) { return Entry(t, "R1", Matrix(3, 3, "0.")); },
     "R1 or R2 is not a rotation"},
    {"RectificationWithQAsANumber", [](const std::string& t) { return Entry(t, "Q", "0"); },
     "rectification R1, R2, P1, P2, Q is incomplete"},
    {"NotYamlStorage", [](const std::string& t) { return "<?xml version=\"1.0\"?>\n" + t; },
     "is not YAML storage"},
};

class DamagedCalibrationFile : public DistortFilterTest, public ::testing::WithParamInterface<DamagedFile> {};

TEST_P(DamagedCalibrationFile, IsRefusedWithALineAndLeavesWhatIsInForce) {
  const std::string good = Path("good.yml"), damaged = Path("damaged.yml");
  std::string why;
  ASSERT_TRUE(WriteCalibrationFile(good, RigCalibration(), why)) << why;
  WriteText(damaged, GetParam().damage(ReadText(good)));
  filter_->SetBoardSize(7, 5);
  filter_->SetLeftFx(321);

  EXPECT_FALSE(filter_->LoadCalibration(damaged));
  EXPECT_NE(LastLine().find(GetParam().reason), std::string::npos) << LastLine();
  EXPECT_EQ(filter_->Calibration.BoardWidth, 7);
  EXPECT_EQ(filter_->Calibration.BoardHeight, 5);
  EXPECT_EQ(filter_->CameraLeft(0, 0), 321.0f);
  EXPECT_FALSE(filter_->StereoResult);
  // The good file itself loads.
  EXPECT_TRUE(filter_->LoadCalibration(good)) << LastLine();
  EXPECT_TRUE(filter_->StereoResult);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedCalibrationFile, ::testing::ValuesIn(kDamagedCalibrations),
                         [](const auto& info) { return std::string(info.param.name); });

const DamagedFile kDamagedViewSettings[] = {
    {"BoardOf100000By100000Corners",
     [](const std::string& t) { return Entry(Entry(t, "board_width", "100000"), "board_height", "100000"); },
     "Board 100000 x 100000 refused"},
    {"BoardSizeAsText", [](const std::string& t) { return Entry(t, "board_height", "six"); },
     "out of bounds"},
    {"SquareSizeOf1_8e308mm", [](const std::string& t) { return Entry(t, "square_size_mm", "1.8e308"); },
     "out of bounds"},
    {"NestedFiftyThousandLevels",
     [](const std::string& t) { return t + "deep: " + Repeated("{a: ", 50000) + "\n"; }, "larger than 64 kB"},
    {"NestedTenThousandLevels",
     [](const std::string& t) { return t + "deep:\n" + Repeated("- ", 10000) + "x\n"; },
     "nests deeper than 16 levels"},
};

// A views folder of the drawn board: pairs 01 and 03 good, 02 as the case
// makes it.
class ViewsFolderTest : public DistortFilterTest {
 protected:
  void SaveGoodViews(int views) {
    TCalibrationFilter calibration;
    calibration.SetCameraCount(2);
    for (int pose = 0; pose < views; ++pose) {
      std::vector<cv::Mat> pair{DrawBoardInPose(pose).image, DrawBoardInPose(pose + 7).image};
      calibration.FindCorners(pair);
      calibration.PushView();
    }
    ASSERT_EQ(calibration.Cameras[0].ViewCount, views);
    ASSERT_TRUE(SaveViews(calibration, folder_));
  }
};

class DamagedViewSettings : public ViewsFolderTest, public ::testing::WithParamInterface<DamagedFile> {};

TEST_P(DamagedViewSettings, AreRefusedWithALineAndLeaveTheBoard) {
  SaveGoodViews(1);
  WriteText(Path("views.yml"), GetParam().damage(ReadText(Path("views.yml"))));
  filter_->SetBoardSize(7, 5);
  EXPECT_FALSE(filter_->LoadViews(folder_));
  EXPECT_NE(LastLine().find(GetParam().reason), std::string::npos) << LastLine();
  EXPECT_FALSE(filter_->LoadingViews());
  EXPECT_EQ(filter_->Calibration.BoardWidth, 7);
  EXPECT_EQ(filter_->Calibration.BoardHeight, 5);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedViewSettings, ::testing::ValuesIn(kDamagedViewSettings),
                         [](const auto& info) { return std::string(info.param.name); });

struct DamagedPair {
  const char* name;
  std::function<void(const std::string& folder)> damage;  // of pair 02
  const char* line;
};

const DamagedPair kDamagedPairs[] = {
    {"RightImageMissing", [](const std::string& f) { fs::remove(f + "/02R.png"); },
     "Load views: 02R.png is missing"},
    {"SixteenBitPng",
     [](const std::string& f) {
       cv::Mat grey = cv::imread(f + "/02L.png", cv::IMREAD_GRAYSCALE), wide;
       grey.convertTo(wide, CV_16U, 256);
       cv::imwrite(f + "/02L.png", wide);
     },
     "Load views: 02L.png is not an 8-bit grey or colour picture"},
    {"FourChannelPng",
     [](const std::string& f) {
       cv::Mat colour = cv::imread(f + "/02R.png"), with_alpha;
       cv::cvtColor(colour, with_alpha, cv::COLOR_BGR2BGRA);
       cv::imwrite(f + "/02R.png", with_alpha);
     },
     "Load views: 02R.png is not an 8-bit grey or colour picture"},
    {"PairOf8000By8000",
     [](const std::string& f) {
       const cv::Mat large(8000, 8000, CV_8UC1, cv::Scalar::all(90));
       cv::imwrite(f + "/02L.png", large);
       cv::imwrite(f + "/02R.png", large);
     },
     "Load views: 02L.png is larger than 4096 x 4096 px"},
    {"NotAPicture", [](const std::string& f) { WriteText(f + "/02L.png", "not a picture"); },
     "Load views: 02L.png can not be read"},
};

class DamagedViewPair : public ViewsFolderTest, public ::testing::WithParamInterface<DamagedPair> {};

TEST_P(DamagedViewPair, GetsALineAndTheOtherPairsAreKept) {
  SaveGoodViews(3);
  GetParam().damage(folder_);
  LoadViewsAndWait(folder_);
  const std::string all = AllLines();
  EXPECT_NE(all.find(GetParam().line), std::string::npos) << all;
  EXPECT_EQ(filter_->Calibration.Cameras[0].ViewCount, 2) << all;
  EXPECT_EQ(filter_->Calibration.Cameras[1].ViewCount, 2) << all;
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedViewPair, ::testing::ValuesIn(kDamagedPairs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ViewsFolderTest, LoadRunsBesideTheWindowAndPutsTheViewsInForceWhenDone) {
  SaveGoodViews(3);
  filter_->SetBoardSize(7, 5);
  ASSERT_TRUE(filter_->LoadViews(folder_));
  EXPECT_TRUE(filter_->LoadingViews());
  // The views held stay until the load is done.
  EXPECT_EQ(filter_->Calibration.BoardWidth, 7);
  EXPECT_FALSE(filter_->LoadViews(folder_));
  EXPECT_EQ(LastLine(), "Load views: a load still runs");
  while (filter_->LoadViewsStep()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(filter_->LoadingViews());
  EXPECT_EQ(filter_->Calibration.BoardWidth, 8);
  EXPECT_EQ(filter_->Calibration.Cameras[1].ViewCount, 3);
  EXPECT_TRUE(LastLine().starts_with("Loaded 3 views of 3 pairs")) << LastLine();
  // A filter that goes while a load runs ends it.
  ASSERT_TRUE(filter_->LoadViews(folder_));
  filter_.reset();
}

}  // namespace
