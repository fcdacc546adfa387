// The depth units on their own: the matcher's accepted extremes, the frame
// of points and depths, and the depth files.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "depth/depth_measure.h"
#include "depth/disparity_matcher.h"
#include "tests/depth/depth_test_scenes.h"

namespace {

using depth_test::BinaryTexture;
using depth_test::TempFolder;
using depth_test::Texture;
using depth_test::TurnedRig;

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

// Share of the matchable pixels whose disparity is off the truth by more
// than 2 px or missing.
double Bad2(const cv::Mat& disparity16, const cv::Mat& truth, const TDisparitySettings& settings) {
  const cv::Range columns = MatchableColumns(settings, disparity16.cols);
  int bad = 0;
  for (int y = 0; y < disparity16.rows; ++y) {
    for (int x = columns.start; x < columns.end; ++x) {
      const int16_t value = disparity16.at<int16_t>(y, x);
      bad += !IsMatched(value, settings.MinDisparity) ||
             std::abs(value / double(kDisparityFraction) - truth.at<float>(y, x)) > 2.0;
    }
  }
  return bad / double(disparity16.rows * columns.size());
}

class StripTest : public ::testing::TestWithParam<int> {};

TEST_P(StripTest, StripsMatchAsWellAsTheWholeImage) {
  const depth_test::SlantedPair wall = depth_test::SlantedWall({640, 480});
  const TDisparitySettings settings;
  cv::Mat whole, strips;
  TDisparityMatcher(1).Compute(settings, wall.left, wall.right, whole);
  TDisparityMatcher(GetParam()).Compute(settings, wall.left, wall.right, strips);
  const double whole_bad = Bad2(whole, wall.truth, settings);
  EXPECT_LT(whole_bad, 0.05);
  EXPECT_NEAR(Bad2(strips, wall.truth, settings), whole_bad, 0.002);
  EXPECT_GT(cv::countNonZero(strips == whole) / double(whole.total()), 0.98);
}

INSTANTIATE_TEST_SUITE_P(Counts, StripTest, ::testing::Values(2, 3, 5));

// The largest P2 the costs allow at block 5: (32767 - 93 x 5 x 6) / 2.
INSTANTIATE_TEST_SUITE_P(
    Bounds, SemiGlobalExtremeTest,
    ::testing::Values(Extreme{"LargestBlock", TMatcherKind::SemiGlobal, 13, 0},
                      Extreme{"LargestBlockThreeWays", TMatcherKind::SemiGlobal3Way, 13, 0},
                      Extreme{"SmallestBlock", TMatcherKind::SemiGlobal, 1, 0},
                      Extreme{"LargestPenalty", TMatcherKind::SemiGlobal, 5, 14988},
                      Extreme{"LargestPenaltyThreeWays", TMatcherKind::SemiGlobal3Way, 5, 14988}),
    [](const auto& info) { return std::string(info.param.name); });

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

}  // namespace
