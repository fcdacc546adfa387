#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Video/vidclass/ipl.h"
#include "filters/depth_measure.h"
#include "filters/disparity_filter.h"
#include "filters/stereo_calibration.h"
#include "filters/undistort_cache.h"
#include "filters/vidfilters_distort.h"
#include "tests/filters/filter_fakes.h"

namespace {

using namespace std::chrono_literals;

struct ImageDeleter {
  void operator()(IplImage* image) const { ReleaseImage(&image); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

// Smooth texture: what a matcher finds sub-pixel disparities in.
cv::Mat Texture(cv::Size size, int seed) {
  cv::Mat noise(size, CV_8U);
  cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, noise, {0, 0}, 1.5);
  cv::normalize(noise, noise, 0, 255, cv::NORM_MINMAX);
  return noise;
}

cv::Mat View(const IplImage* image) { return cv::cvarrToMat(image); }

Image ImageOf(const cv::Mat& content) {
  Image image(CreateImage(CvSize{content.cols, content.rows}, content.channels(), IPL_DEPTH_8U, true));
  cv::Mat view = cv::cvarrToMat(image.get());
  content.copyTo(view);
  return image;
}

// A folder of its own, removed with everything in it.
struct TempFolder {
  TempFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "depthXXXXXX").string();
    path = mkdtemp(name.data());
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::string filePath(const std::string& name) const { return (path / name).string(); }
  std::filesystem::path path;
};

class DisparityFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { MainWindow = &main_window_; }
  void TearDown() override { MainWindow = nullptr; }
  // Runs the pair until a map of it is shown.
  ImagePair Match(const Image& left, const Image& right) {
    ImagePair pair;
    pair.Left() = left.get();
    pair.Right() = right.get();
    filter_->ProcessPair(pair);
    EXPECT_TRUE(filter_->WaitForMatcher(20s));
    return filter_->ProcessPair(pair);
  }
  FakeMainWindow main_window_;
  std::unique_ptr<TDisparityFilter> filter_ = TVidFilter::Create<TDisparityFilter>();
};

// The right camera sees a scene point `shift` pixels further left.
TEST_F(DisparityFilterTest, AShiftedTextureGivesItsShiftAndTheSavedMapKeepsIt) {
  constexpr int kShift = 21;
  const cv::Mat scene = Texture({360, 240}, 3);
  const Image left = ImageOf(scene.colRange(0, 320)), right = ImageOf(scene.colRange(kShift, 320 + kShift));
  const ImagePair shown = Match(left, right);
  const auto map = filter_->ShownMap();
  ASSERT_NE(map, nullptr);
  ASSERT_TRUE(map->Error.empty()) << map->Error;
  EXPECT_GT(map->ValidShare, 0.9);
  const cv::Range columns = MatchableColumns(filter_->Settings, 320);
  const cv::Mat inside = map->Snapshot.Disparity16.colRange(columns).rowRange(10, 230);
  cv::Mat off;
  cv::absdiff(inside, cv::Scalar(kShift * kDisparityFraction), off);
  EXPECT_GT(cv::countNonZero(off <= 4) / static_cast<double>(inside.total()), 0.9);
  // Left pane: the (rectified) left image; right pane: the map in colour.
  EXPECT_EQ(cv::norm(cv::cvarrToMat(shown.Left()), cv::cvarrToMat(left.get()), cv::NORM_INF), 0);
  ASSERT_EQ(shown.Right()->nChannels, 3);
  EXPECT_EQ(cv::cvarrToMat(shown.Right()).at<cv::Vec3b>(120, 2), cv::Vec3b(0, 0, 0));

  TempFolder folder;
  const std::string stem = folder.filePath("scene");
  ASSERT_TRUE(filter_->SaveDepth(stem));
  const cv::Mat saved = cv::imread(stem + "_disparity.png", cv::IMREAD_UNCHANGED);
  ASSERT_EQ(saved.type(), CV_16U);
  const cv::Mat& disparity = map->Snapshot.Disparity16;
  for (int y = 0; y < saved.rows; y += 7) {
    for (int x = 0; x < saved.cols; x += 5) {
      const int16_t value = disparity.at<int16_t>(y, x);
      const double expected = IsMatched(value, 0) ? value / 16.0 : 0.0;
      ASSERT_NEAR(saved.at<uint16_t>(y, x) / 256.0, expected, 1.0 / 256) << x << "," << y;
    }
  }
  // Without a calibration there is no depth to write.
  EXPECT_FALSE(std::filesystem::exists(stem + "_depth.png"));
  EXPECT_FALSE(std::filesystem::exists(stem + ".ply"));
  EXPECT_TRUE(std::filesystem::exists(stem + "_left.png"));
}

TEST_F(DisparityFilterTest, AnUnwritableFolderLeavesOneLineAndNoFile) {
  const cv::Mat scene = Texture({200, 120}, 4);
  const Image image = ImageOf(scene);
  EXPECT_FALSE(filter_->SaveDepth("/tmp/x"));
  Match(image, image);
  TempFolder folder;
  // A file where the folder should be: not even root writes into it.
  std::ofstream(folder.filePath("taken")) << "x";
  const size_t lines = main_window_.log.size();
  EXPECT_FALSE(filter_->SaveDepth(folder.filePath("taken/depth")));
  EXPECT_EQ(main_window_.log.size(), lines + 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 1);
}

struct BadPair {
  const char* name;
  cv::Size left, right;
  int right_channels;
  const char* line;
  // The size of a stereo calibration in force; empty: none.
  cv::Size calibrated{};
};

class DisparityBadPairTest : public DisparityFilterTest, public ::testing::WithParamInterface<BadPair> {};

TEST_P(DisparityBadPairTest, IsRefusedWithOneLineAndPassedOnUnchanged) {
  const BadPair& bad = GetParam();
  const Image left = ImageOf(Texture(bad.left, 5));
  cv::Mat right_content = Texture(bad.right, 6);
  if (bad.right_channels == 3) cv::cvtColor(right_content, right_content, cv::COLOR_GRAY2BGR);
  const Image right = ImageOf(right_content);
  TStereoCalibration calibration;
  calibration.ImageSize = bad.calibrated;
  if (!bad.calibrated.empty()) main_window_.calibration = &calibration;
  ImagePair pair;
  pair.Left() = left.get();
  pair.Right() = right.get();
  for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(filter_->ProcessPair(pair), pair);
  main_window_.calibration = nullptr;
  ASSERT_EQ(main_window_.log.size(), 1u);
  EXPECT_NE(main_window_.log[0].find(bad.line), std::string::npos) << main_window_.log[0];
}

INSTANTIATE_TEST_SUITE_P(Pairs, DisparityBadPairTest,
                         ::testing::Values(BadPair{"Sizes", {64, 48}, {80, 48}, 1, "differ (64 x 48"},
                                           BadPair{"Colour", {64, 48}, {64, 48}, 3, "with 3"},
                                           BadPair{"CalibrationOfAnotherSize",
                                                   {64, 48},
                                                   {64, 48},
                                                   1,
                                                   "calibration is of 640 x 480 images",
                                                   {640, 480}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SettingsCase {
  const char* name;
  TDisparitySettings settings;
  const char* problem;  // empty: accepted
};

TDisparitySettings With(int TDisparitySettings::*field, int value,
                        TMatcherKind kind = TMatcherKind::SemiGlobal) {
  TDisparitySettings settings;
  settings.Matcher = kind;
  settings.*field = value;
  return settings;
}

class DisparitySettingsTest : public DisparityFilterTest,
                              public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(DisparitySettingsTest, AreTakenOrRefusedWithTheirReason) {
  const SettingsCase& c = GetParam();
  const TDisparitySettings before = filter_->Settings;
  const bool taken = filter_->SetSettings(c.settings);
  EXPECT_EQ(taken, std::string(c.problem).empty());
  EXPECT_TRUE(filter_->Settings == (taken ? c.settings : before));
  if (!taken) {
    ASSERT_FALSE(main_window_.log.empty());
    EXPECT_NE(main_window_.log.back().find(c.problem), std::string::npos) << main_window_.log.back();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisparitySettingsTest,
    ::testing::Values(
        SettingsCase{"Default", TDisparitySettings{}, ""},
        SettingsCase{"Most", With(&TDisparitySettings::NumDisparities, 256), ""},
        SettingsCase{"NotSixteens", With(&TDisparitySettings::NumDisparities, 40), "multiple of 16"},
        SettingsCase{"TooMany", With(&TDisparitySettings::NumDisparities, 272), "multiple of 16"},
        SettingsCase{"EvenBlock", With(&TDisparitySettings::BlockSize, 6), "odd"},
        SettingsCase{"SmallBlockMatching",
                     With(&TDisparitySettings::BlockSize, 3, TMatcherKind::BlockMatching), "from 5"},
        SettingsCase{"SmallSemiGlobal", With(&TDisparitySettings::BlockSize, 3), ""},
        SettingsCase{"PenaltiesCrossed", With(&TDisparitySettings::PenaltyLarge, 100), "large one"},
        // The library's 16-bit costs overflowed: a 20 px shift measured 0.93 px.
        SettingsCase{"SemiGlobalBlockOf255OverflowsTheLibrarysCosts",
                     With(&TDisparitySettings::BlockSize, 255), "would overflow"},
        SettingsCase{"LargestSemiGlobalBlock", With(&TDisparitySettings::BlockSize, 13), ""},
        SettingsCase{"SemiGlobalBlockAboveTheLargest", With(&TDisparitySettings::BlockSize, 15),
                     "largest block 13"},
        SettingsCase{"LargePenaltyAboveTheLargest", With(&TDisparitySettings::PenaltyLarge, 14989),
                     "would overflow"},
        SettingsCase{"BlockMatchingOf255",
                     With(&TDisparitySettings::BlockSize, 255, TMatcherKind::BlockMatching), ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Full-contrast texture: every wrong disparity costs what the cost range allows.
cv::Mat BinaryTexture(cv::Size size, int seed) {
  cv::Mat noise(size, CV_8U);
  cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, 0, 2);
  return noise * 255;
}

struct Extreme {
  const char* name;
  TMatcherKind matcher;
  int block;
  int large_penalty;
};

class SemiGlobalExtremeTest : public ::testing::TestWithParam<Extreme> {};

TEST_P(SemiGlobalExtremeTest, AcceptedExtremesMeasureAKnownShift) {
  constexpr int kShift = 20;
  TDisparitySettings settings;
  settings.Matcher = GetParam().matcher;
  settings.BlockSize = GetParam().block;
  settings.PenaltyLarge = GetParam().large_penalty;
  ASSERT_EQ(DisparitySettingsProblem(settings), "");
  const cv::Mat scene = BinaryTexture({300, 160}, 8);
  const cv::Mat left = scene.colRange(0, 260).clone(), right = scene.colRange(kShift, 260 + kShift).clone();
  cv::Mat disparity16;
  TDisparityMatcher().Compute(settings, left, right, disparity16);
  const cv::Mat inside = disparity16(cv::Rect(80, 20, 160, 120));
  cv::Mat off;
  cv::absdiff(inside, cv::Scalar(kShift * kDisparityFraction), off);
  EXPECT_GT(cv::countNonZero(off <= 4) / static_cast<double>(inside.total()), 0.95);
}

// The largest P2 the costs allow at block 5: (32767 - 93 x 5 x 6) / 2.
INSTANTIATE_TEST_SUITE_P(
    Bounds, SemiGlobalExtremeTest,
    ::testing::Values(Extreme{"LargestBlock", TMatcherKind::SemiGlobal, 13, 0},
                      Extreme{"LargestBlockThreeWays", TMatcherKind::SemiGlobal3Way, 13, 0},
                      Extreme{"SmallestBlock", TMatcherKind::SemiGlobal, 1, 0},
                      Extreme{"LargestPenalty", TMatcherKind::SemiGlobal, 5, 14988},
                      Extreme{"LargestPenaltyThreeWays", TMatcherKind::SemiGlobal3Way, 5, 14988}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DisparityFilterTest, DamagedDisparitySettingsFallBackWithOneLineThatNamesThem) {
  FakeSettingsStore store;
  const std::map<std::string, std::string> file{{"Matcher", "7"},           {"NumDisparities", "nan"},
                                                {"MinDisparity", " 12 "},   {"BlockSize", "255"},
                                                {"UniquenessRatio", "ten"}, {"SpeckleRange", "3"}};
  for (const auto& [key, value] : file) store.values[{"Disparity", key}] = value;
  filter_->LoadSettings(store, "Disparity");
  TDisparitySettings expected;
  expected.MinDisparity = 12;
  expected.SpeckleRange = 3;
  EXPECT_TRUE(filter_->Settings == expected);
  ASSERT_EQ(main_window_.log.size(), 2u);  // "Load: " and the replacements
  const std::string& line = main_window_.log[1];
  for (const char* named : {"Matcher \"7\" by 1", "NumDisparities \"nan\" by 64", "BlockSize \"255\" by 5",
                            "UniquenessRatio \"ten\" by 10"}) {
    EXPECT_NE(line.find(named), std::string::npos) << line;
  }
  EXPECT_EQ(line.find("MinDisparity"), std::string::npos) << line;
}

std::shared_ptr<const TStereoCalibration> TurnedRig(cv::Size size);

struct ChainCase {
  const char* name;
  TDistortMode mode;
  const char* line;  // empty: the pair is matched as it is
};

class DisparityChainTest : public DisparityFilterTest, public ::testing::WithParamInterface<ChainCase> {};

// With a stereo calibration in force the filter rectified every pair it was
// not told was rectified: an undistorted pair was undistorted twice.
TEST_P(DisparityChainTest, AnUndistortedPairIsNeverUndistortedAgain) {
  const Image left = ImageOf(Texture({64, 48}, 10)), right = ImageOf(Texture({64, 48}, 11));
  main_window_.current_left = left.get();
  main_window_.current_right = right.get();
  auto distort = TVidFilter::Create<TDistortFilter>();
  distort->StereoResult = *TurnedRig({64, 48});
  main_window_.calibration = &*distort->StereoResult;
  distort->SetMode(GetParam().mode);
  ImagePair pair;
  pair.Left() = left.get();
  pair.Right() = right.get();
  const ImagePair before = distort->ProcessPair(pair);
  const ImagePair after = filter_->ProcessPair(before);
  ASSERT_TRUE(filter_->WaitForMatcher(20s));
  main_window_.calibration = nullptr;
  if (*GetParam().line != '\0') {
    EXPECT_EQ(after, before);
    ASSERT_EQ(main_window_.log.size(), 1u);
    EXPECT_NE(main_window_.log[0].find(GetParam().line), std::string::npos) << main_window_.log[0];
    return;
  }
  EXPECT_TRUE(main_window_.log.empty());
  EXPECT_EQ(cv::norm(View(after.Left()), View(before.Left()), cv::NORM_INF), 0);
  filter_->ProcessPair(before);
  ASSERT_NE(filter_->ShownMap(), nullptr);
  EXPECT_EQ(filter_->ShownMap()->Snapshot.Calibration, before.Rectification);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DisparityChainTest,
    ::testing::Values(ChainCase{"CalibrateOnly", kCalibrateOnly, "\"Calibrate only\" undistorts"},
                      ChainCase{"CalibrateAndRectify", kCalibrateAndRectify, "far points only"},
                      ChainCase{"DistortionMap", kShowDistortionMap, "no camera pair"},
                      ChainCase{"RectifyBoth", kRectifyBoth, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A rig whose right camera is turned 3 degrees and set 60 mm to the side, so
// that rectifying turns both cameras.
std::shared_ptr<const TStereoCalibration> TurnedRig(cv::Size size) {
  auto rig = std::make_shared<TStereoCalibration>();
  rig->ImageSize = size;
  rig->SquareSize_mm = 25;
  rig->K1 = rig->K2 = cv::Matx33d(500, 0, size.width / 2.0, 0, 500, size.height / 2.0, 0, 0, 1);
  cv::Rodrigues(cv::Vec3d(0, 3 * CV_PI / 180, 0), rig->R);
  rig->T = cv::Vec3d(-60, 2, 1);
  cv::stereoRectify(rig->K1, rig->D1, rig->K2, rig->D2, size, rig->R, rig->T, rig->R1, rig->R2, rig->P1,
                    rig->P2, rig->Q);
  return rig;
}

TDepthSnapshot ConstantDisparity(double pixels, cv::Size size) {
  TDepthSnapshot snapshot;
  snapshot.Disparity16 = cv::Mat(size, CV_16S, cv::Scalar(pixels * kDisparityFraction));
  snapshot.Left = Texture(size, 9);
  snapshot.Calibration = TurnedRig(size);
  return snapshot;
}

TEST(DepthFiles, DepthIsAlongTheAxisOfTheRectifiedGridItLiesOn) {
  const TDepthSnapshot snapshot = ConstantDisparity(32, {640, 480});
  // The rectified pair's baseline is the rig's, its focal length P1's.
  const double z = snapshot.Calibration->P1(0, 0) * cv::norm(snapshot.Calibration->T) / 32;
  const cv::Mat depth =
      DepthImage(PointsOf(snapshot.Disparity16, snapshot.MinDisparity, *snapshot.Calibration));
  for (const cv::Point pixel : {cv::Point(0, 0), cv::Point(639, 0), cv::Point(320, 240), cv::Point(0, 479)}) {
    EXPECT_NEAR(depth.at<uint16_t>(pixel), z, 1.0) << pixel;
  }
}

TEST(DepthFiles, DisparitiesBeyondTheFilesRangeAreNoMatchNotWrapped) {
  // 20.5 px, the largest the file holds, 256 px, 300 px, -3 px, and 0 px.
  cv::Mat disparity16 = (cv::Mat_<int16_t>(1, 6) << 328, 4095, 4096, 4800, -48, 0);
  int unfit = 0;
  const cv::Mat file = BenchmarkDisparity(disparity16, -16, &unfit);
  EXPECT_EQ(file.at<uint16_t>(0), 20.5 * 256);
  EXPECT_EQ(file.at<uint16_t>(1), 65520);
  for (const int beyond : {2, 3, 4, 5}) EXPECT_EQ(file.at<uint16_t>(beyond), 0) << beyond;
  EXPECT_EQ(unfit, 3);
}

// Old depth files of a stem, each holding its own name.
struct OldDepthFiles {
  explicit OldDepthFiles(const TempFolder& folder) : stem(folder.filePath("depth")) {
    for (const char* suffix : kSuffixes) std::ofstream(stem + suffix) << "old" << suffix;
  }
  bool AllKept() const {
    for (const char* suffix : kSuffixes) {
      std::ifstream in(stem + suffix);
      const std::string content((std::istreambuf_iterator<char>(in)), {});
      if (content != std::string("old") + suffix) return false;
    }
    return true;
  }
  static constexpr const char* kSuffixes[] = {"_disparity.png", "_left.png", "_depth.png", ".ply"};
  std::string stem;
};

TEST(DepthFiles, SaveDepthMixedNewAndOldFilesWhenALaterOneCouldNotBeReplaced) {
  TempFolder folder;
  const OldDepthFiles old(folder);
  std::filesystem::remove(old.stem + ".ply");
  std::filesystem::create_directory(old.stem + ".ply");
  std::string why;
  int unfit = 0;
  EXPECT_FALSE(SaveDepthFiles(old.stem, ConstantDisparity(20, {64, 48}), why, unfit));
  EXPECT_NE(why.find(".ply"), std::string::npos) << why;
  std::filesystem::remove(old.stem + ".ply");
  std::ofstream(old.stem + ".ply") << "old.ply";
  EXPECT_TRUE(old.AllKept());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 4);
}

// Every rename of a save that replaces four files, failing in turn.
class FailedRenameTest : public ::testing::TestWithParam<int> {};

TEST_P(FailedRenameTest, LeavesTheOldFilesAndNothingElse) {
  TempFolder folder;
  const OldDepthFiles old(folder);
  int calls = 0;
  const auto failing = [&calls](const char* from, const char* to) {
    return ++calls == GetParam() ? -1 : std::rename(from, to);
  };
  std::string why;
  int unfit = 0;
  EXPECT_FALSE(SaveDepthFiles(old.stem, ConstantDisparity(20, {64, 48}), why, unfit, failing));
  EXPECT_TRUE(old.AllKept());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 4);
}

INSTANTIATE_TEST_SUITE_P(EachRename, FailedRenameTest, ::testing::Range(1, 9));

TEST(CalibrationFile, WithoutASquareSizeLoadsWithItsLengthsInSquares) {
  TStereoCalibration calibration;
  calibration.ImageSize = {640, 480};
  calibration.BoardSize = {8, 6};
  calibration.K1 = calibration.K2 = cv::Matx33d(500, 0, 320, 0, 500, 240, 0, 0, 1);
  calibration.T = cv::Vec3d(-4.8, 0.1, 0.05);
  calibration.SquareSize_mm = 25;
  TempFolder folder;
  const std::string with = folder.filePath("with.yml"), without = folder.filePath("old.yml");
  std::string why;
  ASSERT_TRUE(WriteCalibrationFile(with, calibration, why)) << why;
  std::ifstream in(with);
  std::ofstream out(without);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("square_size_mm", 0) != 0) out << line << "\n";
  }
  out.close();
  for (const auto& [path, size, unit] : {std::tuple{with, 25.0, "mm"}, std::tuple{without, 0.0, "squares"}}) {
    const auto read = ReadCalibrationFile(path, why);
    ASSERT_TRUE(read.has_value()) << why;
    EXPECT_EQ(read->SquareSize_mm, size);
    EXPECT_EQ(read->T, calibration.T);
    EXPECT_STREQ(LengthUnit(*read), unit);
  }
}

// Frames with fewer rows than worker threads leave bands without rows.
class ShortFrameTest : public ::testing::TestWithParam<int> {};

TEST_P(ShortFrameTest, UndistortsAsTheLibraryDoes) {
  const int threads = cv::getNumThreads();
  cv::setNumThreads(8);
  const cv::Mat frame = Texture({64, GetParam()}, 7);
  const cv::Matx33f camera(60, 0, 32, 0, 60, GetParam() / 2.0f, 0, 0, 1);
  const cv::Vec4f distortion(-0.2f, 0.05f, 0, 0);
  TUndistortCache cache;
  cv::Mat out, expected;
  cache.Apply(frame, out, camera, distortion);
  cv::undistort(frame, expected, camera, distortion);
  cv::setNumThreads(threads);
  EXPECT_EQ(cv::norm(out, expected, cv::NORM_INF), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, ShortFrameTest, ::testing::Values(1, 3, 7));

}  // namespace
