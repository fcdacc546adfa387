// The steps after matching, each against a scene whose disparity is known:
// the slanted wall with a plain patch and a band of repeating stripes.

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "depth/depth_quality.h"
#include "depth/disparity_matcher.h"
#include "depth/disparity_post.h"
#include "tests/depth/depth_test_scenes.h"

namespace {

using depth_test::TurnedRig;

// The slanted wall with a plain patch and upright stripes (period 10 px)
// painted on it, and a little sensor noise on both images.
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
  const double slope = 48.0 / size.width;
  cv::Mat map_x(size, CV_32F), map_y(size, CV_32F);
  room.pair.truth.create(size, CV_32F);
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      map_x.at<float>(y, x) = static_cast<float>(x + 8 + slope * x);
      map_y.at<float>(y, x) = static_cast<float>(y);
      room.pair.truth.at<float>(y, x) = static_cast<float>(x - (x - 8) / (1 + slope));
    }
  }
  room.pair.left = texture.colRange(0, size.width).clone();
  cv::remap(texture, room.pair.right, map_x, map_y, cv::INTER_LINEAR);
  cv::RNG noise(5);
  for (cv::Mat* image : {&room.pair.left, &room.pair.right}) {
    cv::Mat grain(image->size(), CV_16S);
    noise.fill(grain, cv::RNG::NORMAL, 0, 1.5);
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

TEST_F(RoomTest, ChecksHalveTheWrongMatchesAndKeepMostPixels) {
  const TDisparitySettings plain_settings;
  TDisparitySettings s;
  s.Post.LeftRightCheck = true;
  s.Post.TextureCheck = true;
  const Figures before = Judge(*plain_, room_->pair.truth, plain_settings);
  const Figures after = Judge(After(s), room_->pair.truth, s);
  ASSERT_GT(before.bad2_matched, 0.01) << "the scene must trouble the plain map";
  EXPECT_LE(after.bad2_matched, 0.5 * before.bad2_matched);
  EXPECT_GE(after.density, 0.85);
  // The plain patch's inside is no match at all.
  const cv::Rect inside(room_->plain.x + 8, room_->plain.y + 8, room_->plain.width - 16,
                        room_->plain.height - 16);
  EXPECT_EQ(Judge(After(s), room_->pair.truth, s, inside).density, 0.0);
}

TEST_F(RoomTest, FillingLeavesFewerWrongPixelsThanThePlainMapAndFillsAlmostAll) {
  TDisparitySettings s;
  s.Post.LeftRightCheck = s.Post.TextureCheck = s.Post.Fill = true;
  cv::Mat filled;
  const cv::Mat map = After(s, &filled);
  const Figures before = Judge(*plain_, room_->pair.truth, TDisparitySettings{});
  const Figures after = Judge(map, room_->pair.truth, s);
  EXPECT_LE(after.bad2_all, 0.75 * before.bad2_all);
  EXPECT_GE(after.density, 0.99);
  // The filled pixels are those the checks left without a match.
  const cv::Mat checked = After([&] {
    TDisparitySettings checks = s;
    checks.Post.Fill = false;
    return checks;
  }());
  const cv::Range columns = MatchableColumns(s, map.cols);
  const cv::Mat holes = checked.colRange(columns) < 0;
  EXPECT_EQ(cv::countNonZero((filled.colRange(columns) != holes) & (map.colRange(columns) >= 0)), 0);
  EXPECT_GT(cv::countNonZero(filled), 0);
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
    single_error = cv::norm(disparity, cv::Scalar(30 * kDisparityFraction), cv::NORM_L2);
    EXPECT_EQ(smoother.Apply(disparity, image, s), map == 0);
    smoothed_error = cv::norm(disparity, cv::Scalar(30 * kDisparityFraction), cv::NORM_L2);
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
