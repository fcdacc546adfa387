// The steps after matching, each against a scene whose disparity is known:
// the slanted wall with a plain patch and a band of repeating stripes.

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "depth/depth_quality.h"
#include "depth/disparity_matcher.h"
#include "depth/disparity_post.h"
#include "depth/disparity_view.h"
#include "depth/disparity_worker.h"
#include "tests/depth/depth_test_scenes.h"

namespace {

using depth_test::TurnedRig;

// A wall turned a little (disparity 20 px at the left edge, 28 px at the
// right one) with a plain patch and upright stripes (period 10 px) painted on
// it, and sensor noise of 1 grey level on both images.
struct RoomPair {
  depth_test::SlantedPair pair;
  cv::Rect plain{400, 60, 90, 90};
  cv::Rect stripes{380, 300, 140, 120};
};

RoomPair Room() {
  const cv::Size size(640, 480);
  cv::Mat texture = depth_test::Texture({size.width + 64, size.height}, 12);
  RoomPair room;
  // Painted on the texture, so both images see the paint where the wall is.
  const auto paint = [&](const cv::Rect& area, auto value) {
    for (int y = area.y; y < area.br().y; ++y) {
      for (int x = area.x; x < area.br().x; ++x) texture.at<uint8_t>(y, x) = value(x);
    }
  };
  // The texture column a left pixel sees is the pixel's own column.
  paint(room.plain, [](int) { return uint8_t{140}; });
  paint(room.stripes,
        [](int x) { return cv::saturate_cast<uint8_t>(120 + 80 * std::sin(2 * CV_PI * x / 10)); });
  constexpr double kFirst = 20, kSlope = 8.0 / 640;
  cv::Mat map_x(size, CV_32F), map_y(size, CV_32F);
  room.pair.truth.create(size, CV_32F);
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      // Right pixel x shows texture column x + 20 + slope x, which the left
      // image shows at that column.
      map_x.at<float>(y, x) = static_cast<float>(x + kFirst + kSlope * x);
      map_y.at<float>(y, x) = static_cast<float>(y);
      room.pair.truth.at<float>(y, x) = static_cast<float>(x - (x - kFirst) / (1 + kSlope));
    }
  }
  room.pair.left = texture.colRange(0, size.width).clone();
  cv::remap(texture, room.pair.right, map_x, map_y, cv::INTER_LINEAR);
  cv::RNG noise(5);
  for (cv::Mat* image : {&room.pair.left, &room.pair.right}) {
    cv::Mat grain(image->size(), CV_16S);
    noise.fill(grain, cv::RNG::NORMAL, 0, 1.0);
    cv::Mat sum;
    image->convertTo(sum, CV_16S);
    sum += grain;
    sum.convertTo(*image, CV_8U);
  }
  return room;
}

struct Figures {
  double bad2_matched;  // of the matched pixels
  double bad2_all;      // of all pixels, a hole counted bad
  double density;
};

Figures Judge(const cv::Mat& disparity16, const cv::Mat& truth, const TDisparitySettings& s,
              cv::Rect area = {}) {
  const cv::Range columns = MatchableColumns(s, disparity16.cols);
  if (area.empty()) area = cv::Rect(columns.start, 0, columns.size(), disparity16.rows);
  int matched = 0, bad_matched = 0, total = 0;
  for (int y = area.y; y < area.br().y; ++y) {
    for (int x = area.x; x < area.br().x; ++x) {
      ++total;
      const int16_t value = disparity16.at<int16_t>(y, x);
      if (!IsMatched(value, s.MinDisparity)) continue;
      ++matched;
      bad_matched += std::abs(value / double(kDisparityFraction) - truth.at<float>(y, x)) > 2.0;
    }
  }
  return {bad_matched / double(std::max(matched, 1)), (bad_matched + total - matched) / double(total),
          matched / double(total)};
}

class RoomTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    room_ = new RoomPair(Room());
    TDisparityMatcher().Compute(TDisparitySettings{}, room_->pair.left, room_->pair.right, *plain_);
  }
  static void TearDownTestSuite() {
    delete room_;
    room_ = nullptr;
  }
  // The plain map after the steps the settings switch on.
  cv::Mat After(const TDisparitySettings& s, cv::Mat* filled = nullptr) {
    cv::Mat map = plain_->clone(), marks;
    std::vector<TPostStageTime> times;
    std::string note;
    TDisparityPost().Apply(s, room_->pair.left, room_->pair.right, room_->pair.left, nullptr, map, marks,
                           times, note);
    if (filled != nullptr) *filled = marks;
    return map;
  }
  static RoomPair* room_;
  static cv::Mat* plain_;
};

RoomPair* RoomTest::room_ = nullptr;
cv::Mat* RoomTest::plain_ = new cv::Mat;

cv::Rect Inside(const cv::Rect& area) { return {area.x + 8, area.y + 8, area.width - 16, area.height - 16}; }

TEST_F(RoomTest, ChecksEmptyThePlainPatchAndKeepMostPixels) {
  TDisparitySettings s;
  s.Post.LeftRightCheck = true;
  s.Post.TextureCheck = true;
  const Figures before = Judge(*plain_, room_->pair.truth, s);
  const cv::Mat checked = After(s);
  const Figures after = Judge(checked, room_->pair.truth, s);
  EXPECT_LE(after.bad2_matched, std::max(before.bad2_matched, 1e-3));
  EXPECT_GE(after.density, 0.85);
  EXPECT_GT(Judge(*plain_, room_->pair.truth, s, Inside(room_->plain)).density, 0.5);
  EXPECT_EQ(Judge(checked, room_->pair.truth, s, Inside(room_->plain)).density, 0.0);
}

// The matcher's thread matches the right view beside the left map: each map
// it gives is the one the steps make of its own pair, never of the last.
TEST_F(RoomTest, TheMatchersThreadChecksEachMapAgainstTheRightViewOfItsOwnPair) {
  TDisparitySettings s;
  s.Post.LeftRightCheck = true;
  const depth_test::SlantedPair wall = depth_test::SlantedWall({640, 480});
  TDisparityWorker worker;
  const depth_test::SlantedPair* room = &room_->pair;
  for (const depth_test::SlantedPair* pair : {room, &wall, room}) {
    TDisparityJob job;
    job.LeftGrey = pair->left;
    job.RightGrey = pair->right;
    job.Left = pair->left;
    job.Settings = s;
    worker.Submit(job);
    ASSERT_TRUE(worker.WaitIdle(std::chrono::seconds(60)));
    cv::Mat expected, filled;
    TDisparityMatcher().Compute(s, pair->left, pair->right, expected);
    std::vector<TPostStageTime> times;
    std::string note;
    TDisparityPost().Apply(s, pair->left, pair->right, pair->left, nullptr, expected, filled, times, note);
    const auto result = worker.Latest();
    ASSERT_TRUE(result && result->Error.empty());
    EXPECT_EQ(cv::countNonZero(result->Snapshot.Disparity16 != expected), 0);
  }
}

TEST_F(RoomTest, FillingGivesThePlainPatchTheWallsDisparityAndMarksWhatItFilled) {
  TDisparitySettings s;
  s.Post.LeftRightCheck = s.Post.TextureCheck = s.Post.Fill = true;
  cv::Mat filled;
  const cv::Mat map = After(s, &filled);
  EXPECT_GE(Judge(map, room_->pair.truth, s).density, 0.99);
  const Figures patch = Judge(map, room_->pair.truth, s, Inside(room_->plain));
  EXPECT_EQ(patch.density, 1.0);
  EXPECT_LT(patch.bad2_all, 0.02);
  // The filled pixels are the holes the checks left that got a value.
  TDisparitySettings checks = s;
  checks.Post.Fill = false;
  const cv::Range columns = MatchableColumns(s, map.cols);
  const cv::Mat holes = After(checks).colRange(columns) < 0;
  const cv::Mat now_matched = map.colRange(columns) >= 0;
  EXPECT_EQ(cv::countNonZero((filled.colRange(columns) != holes) & now_matched), 0);
  EXPECT_EQ(cv::countNonZero(filled.colRange(0, columns.start)), 0);
}

TEST(Filling, AHoleBetweenTwoSurfacesTakesOneOfThemNeverADepthBetween) {
  // A near square on a far wall, with a band of holes across its left edge.
  const cv::Mat guide = depth_test::Texture({120, 80}, 6);
  cv::Mat image = guide.clone();
  image(cv::Rect(50, 20, 40, 40)) += 80;
  cv::Mat map(80, 120, CV_16S, cv::Scalar(10 * kDisparityFraction));
  map(cv::Rect(50, 20, 40, 40)).setTo(30 * kDisparityFraction);
  map(cv::Rect(44, 0, 12, 80)).setTo(NoMatch(0));
  cv::Mat filled;
  FillAlongEdges(map, image, cv::Range(0, 120), 8000, 1.5, 0, filled);
  // Matches move by a pixel at most, so each surface keeps its value within one.
  const auto near = [&](int x, int y, int disparity) {
    return std::abs(map.at<int16_t>(y, x) - disparity * kDisparityFraction) <= kDisparityFraction;
  };
  for (int y = 0; y < 80; ++y) {
    for (int x = 44; x < 56; ++x) EXPECT_TRUE(near(x, y, 10) || near(x, y, 30)) << x << ", " << y;
  }
  // The guide's edge splits the band: wall left of the square, square right.
  for (int y = 25; y < 55; ++y) EXPECT_TRUE(near(45, y, 10) && near(54, y, 30)) << y;
  EXPECT_EQ(cv::countNonZero(filled), 12 * 80);
}

TEST(LeftRightCheck, DropsExactlyThePixelsWhosePartnerDisagrees) {
  // A left map of 20 px everywhere; the right view agrees except in a band
  // and has no verdict in another.
  cv::Mat left(40, 100, CV_16S, cv::Scalar(20 * kDisparityFraction));
  cv::Mat right(40, 100, CV_16S, cv::Scalar(20 * kDisparityFraction));
  right.colRange(30, 40).setTo(23 * kDisparityFraction);  // left columns 50 ... 59
  right.colRange(60, 70).setTo(NoMatch(0));               // no verdict for left 80 ... 89
  right.colRange(10, 20).setTo(21 * kDisparityFraction);  // within 1 px: kept
  const int dropped = DropRightDisagreement(left, right, 0, 1);
  EXPECT_EQ(dropped, 10 * 40);
  EXPECT_EQ(cv::countNonZero(left.colRange(50, 60) == NoMatch(0)), 10 * 40);
  EXPECT_EQ(cv::countNonZero(left == NoMatch(0)), 10 * 40);
}

// A near square (30 px) on a wall (10 px) with a hole inside the square: the
// matches within reach of the square's edges go, and nothing else does; the
// hole's edge is no jump.
class JumpReach : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(JumpReach, DropsTheMatchesWithinReachOfAJumpAlongAndAcrossRows) {
  const int reach = std::get<0>(GetParam()), min_disparity = std::get<1>(GetParam());
  const auto at = [&](int px) { return static_cast<int16_t>((min_disparity + px) * kDisparityFraction); };
  cv::Mat map(40, 60, CV_16S, cv::Scalar(at(10)));
  const cv::Rect square(20, 10, 25, 20);
  map(square).setTo(at(30));
  map(cv::Rect(30, 18, 4, 4)).setTo(NoMatch(min_disparity));  // no jump beside a hole
  const cv::Mat before = map.clone();
  const int dropped = DropBesideJumps(map, min_disparity, 2, reach);
  // A jump between a - 1 and a reaches a - reach to a + reach - 1: bands
  // 2 x reach wide across each edge of the square, along that edge.
  cv::Mat reached(map.size(), CV_8U, cv::Scalar(0));
  for (const int edge : {square.x, square.br().x})
    reached(cv::Rect(edge - reach, square.y, 2 * reach, square.height)) = 255;
  for (const int edge : {square.y, square.br().y})
    reached(cv::Rect(square.x, edge - reach, square.width, 2 * reach)) = 255;
  const cv::Mat goes = reached & (before >= min_disparity * kDisparityFraction);
  EXPECT_EQ(cv::countNonZero((map != before) != goes), 0);
  EXPECT_EQ(dropped, cv::countNonZero(goes));
}

INSTANTIATE_TEST_SUITE_P(ReachAndRange, JumpReach,
                         ::testing::Combine(::testing::Values(1, 2, 3), ::testing::Values(-4, 0)));

TEST(Texture, BandsOfRowsGiveTheWholeImagesBlockMeanOfTheRowSteps) {
  const cv::Mat grey = depth_test::Texture({50, 300}, 8);
  cv::Mat step, whole;
  cv::Sobel(grey, step, CV_32F, 1, 0, 1, 0.5, 0, cv::BORDER_REPLICATE);
  cv::boxFilter(cv::abs(step), whole, CV_32F, {7, 7}, {-1, -1}, true, cv::BORDER_REPLICATE);
  EXPECT_LT(cv::norm(RowTexture(grey, 7), whole, cv::NORM_INF), 1e-3);
}

TEST(TemporalSmoothing, AveragesAStillRigAndStartsAgainWhenTheSceneChanges) {
  TDisparitySettings s;
  s.Post.Temporal = true;
  s.Post.TemporalMaps = 8;
  const cv::Mat image = depth_test::Texture({80, 60}, 3);
  TTemporalSmoother smoother;
  cv::RNG noise(9);
  double single_error = 0, smoothed_error = 0;
  for (int map = 0; map < 8; ++map) {
    cv::Mat disparity(60, 80, CV_16S);
    noise.fill(disparity, cv::RNG::UNIFORM, 30 * kDisparityFraction - 8, 30 * kDisparityFraction + 9);
    const cv::Mat truth(disparity.size(), CV_16S, cv::Scalar(30 * kDisparityFraction));
    single_error = cv::norm(disparity, truth, cv::NORM_L2);
    EXPECT_EQ(smoother.Apply(disparity, image, s), map == 0);
    smoothed_error = cv::norm(disparity, truth, cv::NORM_L2);
  }
  EXPECT_EQ(smoother.MapsKept(), 8u);
  EXPECT_LT(smoothed_error, 0.5 * single_error);
  // Another picture: the history starts again with this map alone.
  cv::Mat moved(60, 80, CV_16S, cv::Scalar(12 * kDisparityFraction));
  EXPECT_TRUE(smoother.Apply(moved, depth_test::Texture({80, 60}, 4), s));
  EXPECT_EQ(smoother.MapsKept(), 1u);
  EXPECT_EQ(cv::countNonZero(moved != 12 * kDisparityFraction), 0);
}

TEST(DepthRange, DropsThePointsNearerOrFartherThanTheRange) {
  const auto rig = TurnedRig({640, 480});
  cv::Mat disparity(1, 64, CV_16S);
  for (int x = 0; x < 64; ++x)
    disparity.at<int16_t>(0, x) = static_cast<int16_t>((x + 1) * kDisparityFraction);
  cv::Mat kept = disparity.clone();
  DropOutsideRange(kept, *rig, 0, 800, 2000);
  for (int x = 0; x < 64; ++x) {
    const double z = PointAt(*rig, {double(x), 0}, (x + 1)).val[2];
    EXPECT_EQ(IsMatched(kept.at<int16_t>(0, x), 0), z >= 800 && z <= 2000) << "z " << z;
  }
}

TEST(PlaneRms, IsTheSpreadOfPointsAboutTheirPlaneWhateverItsTilt) {
  cv::RNG noise(2);
  std::vector<cv::Vec3d> points;
  for (int i = 0; i < 4000; ++i) {
    const double u = noise.uniform(-300.0, 300.0), v = noise.uniform(-200.0, 200.0);
    const cv::Vec3d on_plane(u, v, 1500 + 0.7 * u - 0.2 * v);
    const cv::Vec3d normal = cv::normalize(cv::Vec3d(-0.7, 0.2, 1.0));
    points.push_back(on_plane + noise.gaussian(2.0) * normal);
  }
  const auto rms = PlaneRmsOf(points);
  ASSERT_TRUE(rms.has_value());
  EXPECT_NEAR(*rms, 2.0, 0.1);
  EXPECT_FALSE(PlaneRmsOf({{0, 0, 1}, {1, 0, 1}}).has_value());
}

TEST(DepthQuality, ARegionOfAFlatWallGivesItsDistanceFillAndError) {
  const auto rig = TurnedRig({640, 480});
  TDepthSnapshot snapshot;
  snapshot.Calibration = rig;
  // A wall facing the rectified camera at 1500 mm, half of the region unmatched.
  const double disparity = (rig->Q(2, 3) / 1500 - rig->Q(3, 3)) / rig->Q(3, 2);
  snapshot.Disparity16 = cv::Mat(480, 640, CV_16S, cv::Scalar(cvRound(kDisparityFraction * disparity)));
  snapshot.Disparity16(cv::Rect(100, 100, 50, 100)).setTo(NoMatch(0));
  const auto quality = MeasureQuality(snapshot, cv::Rect(100, 100, 100, 100), 1490);
  ASSERT_TRUE(quality.has_value());
  EXPECT_DOUBLE_EQ(quality->FillRate, 0.5);
  EXPECT_NEAR(quality->MeanZ, 1500, 3);
  EXPECT_NEAR(quality->MedianZ, 1500, 3);
  ASSERT_TRUE(quality->PlaneRms && quality->ZError);
  EXPECT_LT(*quality->PlaneRms, 0.01);
  EXPECT_NEAR(*quality->ZError, 10, 3);
  const std::string line = DescribeQuality(*quality, "mm");
  EXPECT_NE(line.find("fill 50.0 %"), std::string::npos) << line;
  EXPECT_NE(line.find("Z error +"), std::string::npos) << line;
  EXPECT_FALSE(MeasureQuality(snapshot, cv::Rect(700, 10, 5, 5)).has_value());
}

}  // namespace

namespace {

TEST(FilledView, FilledPixelsArePalerOrHidden) {
  TDisparitySettings s;
  const cv::Mat map(4, 4, CV_16S, cv::Scalar(20 * kDisparityFraction));
  cv::Mat filled(4, 4, CV_8U, cv::Scalar(0));
  filled.row(1).setTo(255);
  cv::Mat plain_view, shown, hidden;
  ColouriseDisparity(map, s, plain_view);
  ColouriseDisparity(map, s, shown, filled);
  s.Post.HideFilled = true;
  ColouriseDisparity(map, s, hidden, filled);
  const cv::Vec3b colour = plain_view.at<cv::Vec3b>(0, 0);
  EXPECT_EQ(shown.at<cv::Vec3b>(0, 0), colour);
  EXPECT_EQ(shown.at<cv::Vec3b>(1, 0), Paler(colour));
  for (int c = 0; c < 3; ++c) EXPECT_GT(Paler(colour)[c], colour[c] / 2 + 100);
  EXPECT_EQ(hidden.at<cv::Vec3b>(1, 0), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(hidden.at<cv::Vec3b>(2, 0), colour);
}

}  // namespace

namespace {

// Rows and columns of the legend's strip that hold its white text.
cv::Rect TextBox(const cv::Mat& bgr) {
  cv::Mat white;
  cv::inRange(bgr, cv::Scalar::all(200), cv::Scalar::all(255), white);
  // Below the colour bar and its marks only.
  white.rowRange(0, bgr.rows - bgr.rows / 9 + bgr.rows / 36 + 3).setTo(0);
  return cv::boundingRect(white);
}

class LegendSize : public ::testing::TestWithParam<bool> {};

// At the display's half size a 640 x 480 map shows at half its pixels:
// the text must be at least 18 px tall to stay readable there, and whole.
TEST_P(LegendSize, TextStaysReadableAtHalfSizeAndWithinTheMap) {
  const auto calibration = GetParam() ? depth_test::TurnedRig({640, 480}) : nullptr;
  cv::Mat bgr(480, 640, CV_8UC3, cv::Scalar(40, 80, 120));
  DrawLegend(bgr, TDisparitySettings{}, calibration.get());
  const cv::Rect text = TextBox(bgr);
  EXPECT_GE(text.height, 18) << text;
  EXPECT_GT(text.x, 0);
  EXPECT_LT(text.x + text.width, bgr.cols);
  EXPECT_LE(text.y + text.height, bgr.rows);
  // The map above the strip is left as it was.
  EXPECT_EQ(bgr.at<cv::Vec3b>(bgr.rows - 60, 320), cv::Vec3b(40, 80, 120));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutCalibration, LegendSize, ::testing::Bool());

}  // namespace
