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
#include "depth/depth_measure.h"
#include "filters/disparity_filter.h"
#include "filters/stereo_calibration.h"
#include "filters/undistort_cache.h"
#include "filters/vidfilters_distort.h"
#include "tests/depth/depth_test_scenes.h"
#include "tests/filters/filter_fakes.h"

namespace {

using depth_test::TempFolder;
using depth_test::Texture;
using depth_test::TurnedRig;

using namespace std::chrono_literals;

struct ImageDeleter {
  void operator()(IplImage* image) const { ReleaseImage(&image); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

cv::Mat View(const IplImage* image) { return cv::cvarrToMat(image); }

Image ImageOf(const cv::Mat& content) {
  Image image(CreateImage(CvSize{content.cols, content.rows}, content.channels(), IPL_DEPTH_8U, true));
  cv::Mat view = cv::cvarrToMat(image.get());
  content.copyTo(view);
  return image;
}

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

TEST_F(DisparityFilterTest, StepsAfterMatchingAreKeptAndDamagedOnesFallBackWithOneLine) {
  TDisparitySettings wanted;
  wanted.Post = {true, 3, true, 2, true, 12000, 0.8, true, true, 6, 9, true, 500, 2500};
  ASSERT_TRUE(filter_->SetSettings(wanted));
  FakeSettingsStore store;
  filter_->SaveSettings(store, "Disparity");
  auto next = TVidFilter::Create<TDisparityFilter>();
  next->LoadSettings(store, "Disparity");
  EXPECT_TRUE(next->Settings == wanted);

  // Each value read over what is in force; the range's ends judged together.
  const size_t lines = main_window_.log.size();
  for (const auto& [key, value] : std::map<std::string, std::string>{{"Fill", "2"},
                                                                     {"TextureThreshold", "300"},
                                                                     {"FillSigmaColor", "0.05"},
                                                                     {"TemporalMaps", "1"},
                                                                     {"RangeNear", "3000"},
                                                                     {"RangeFar", "2000"},
                                                                     {"LeftRightMaxDiff", "x"}}) {
    store.values[{"Disparity", key}] = value;
  }
  next->LoadSettings(store, "Disparity");
  EXPECT_TRUE(next->Settings == wanted);
  ASSERT_EQ(main_window_.log.size(), lines + 2);  // "Load: " and the replacements
  const std::string& line = main_window_.log.back();
  for (const char* named : {"Fill \"2\" by 1", "TextureThreshold \"300\" by 2", "FillSigmaColor \"0.05\" by 0.8",
                            "TemporalMaps \"1\" by 6", "RangeNear \"3000\" and RangeFar \"2000\" by 500 and 2500",
                            "LeftRightMaxDiff \"x\" by 3"}) {
    EXPECT_NE(line.find(named), std::string::npos) << line;
  }
  // A far end beyond the old one together with a near end beyond it is taken.
  store.values = {{{"Disparity", "RangeNear"}, "3000"}, {{"Disparity", "RangeFar"}, "9000"}};
  next->LoadSettings(store, "Disparity");
  EXPECT_EQ(next->Settings.Post.Near_mm, 3000);
  EXPECT_EQ(next->Settings.Post.Far_mm, 9000);
}

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
