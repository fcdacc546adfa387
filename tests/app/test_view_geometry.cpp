// Geometry of the operator's views without a window: dialog placement, the 3D view's projection and picking,
// and the live rates.

#include <gtest/gtest.h>

#include <cmath>

#include "app/dialog_place.h"
#include "app/live_rates.h"
#include "app/view3d_cloud.h"

namespace {

struct PlaceCase {
  const char* what;
  QRect frame;
  std::vector<QRect> panes;
  QPoint corner;
};

class PlaceOnScreenTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceOnScreenTest, MovesOnlyAsFarAsNeeded) {
  const QRect screen(0, 0, 1600, 1000);
  const PlaceCase& c = GetParam();
  const QPoint corner = PlaceOnScreen(c.frame, screen, c.panes);
  EXPECT_EQ(corner, c.corner) << c.what;
  const QRect placed(corner, c.frame.size());
  EXPECT_TRUE(screen.contains(placed)) << c.what;
}

// The display window's panes at its first place and size.
const std::vector<QRect> kPanes = {{21, 234, 320, 240}, {341, 234, 320, 240}};

INSTANTIATE_TEST_SUITE_P(
    Places, PlaceOnScreenTest,
    ::testing::Values(
        PlaceCase{"clear and on the screen", {900, 100, 497, 359}, kPanes, {900, 100}},
        PlaceCase{"past the bottom", {900, 800, 497, 359}, kPanes, {900, 641}},
        PlaceCase{"past the left", {-50, 600, 497, 359}, kPanes, {0, 600}},
        PlaceCase{"over the panes: just below them", {193, 368, 497, 359}, kPanes, {193, 474}},
        PlaceCase{"over the panes' right end: just right of them", {600, 250, 300, 100}, kPanes, {661, 250}},
        PlaceCase{"no place clear of the panes: stays", {0, 0, 1600, 1000}, kPanes, {0, 0}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// A cloud of points seen by a pinhole lens at known pixels and depths.
TCloud PinholeCloud(const TLens& lens, const std::vector<std::pair<cv::Point, float>>& pixels_and_depths) {
  TCloud cloud;
  for (const auto& [pixel, z] : pixels_and_depths) {
    cloud.Positions.emplace_back(static_cast<float>((pixel.x - lens.Principal.x) / lens.Focal * z),
                                 static_cast<float>((pixel.y - lens.Principal.y) / lens.Focal * z), z);
    cloud.Colours.emplace_back(1, 1, 1);
    cloud.Pixels.push_back(pixel);
  }
  cloud.Centre = cloud.Positions.front();
  return cloud;
}

TLens OffCentreLens() {
  TLens lens;
  lens.Focal = 520;
  lens.Principal = {300, 260};
  lens.Image = {640, 480};
  return lens;
}

class CloudViewGeometryTest : public ::testing::TestWithParam<QSize> {};

TEST_P(CloudViewGeometryTest, FromTheCamerasEyeEachPointLandsOnItsPixel) {
  const TLens lens = OffCentreLens();
  const TCloud cloud =
      PinholeCloud(lens, {{{320, 240}, 1200}, {{10, 20}, 800}, {{630, 470}, 2000}, {{100, 400}, 1500}});
  const QSize widget = GetParam();
  const QMatrix4x4 matrix = ProjectionMatrix(lens, widget, 10, 100000) * ViewMatrix(CameraOrbit(cloud));
  // The image fills the widget's height, centred across.
  const double scale = static_cast<double>(widget.height()) / lens.Image.height;
  const double margin = (widget.width() - lens.Image.width * scale) / 2;
  for (size_t i = 0; i < cloud.Positions.size(); ++i) {
    const auto landed = ProjectToWidget(matrix, widget, cloud.Positions[i]);
    ASSERT_TRUE(landed.has_value());
    EXPECT_NEAR(landed->x(), cloud.Pixels[i].x * scale + margin, 0.05) << i;
    EXPECT_NEAR(landed->y(), cloud.Pixels[i].y * scale, 0.05) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Widgets, CloudViewGeometryTest,
                         ::testing::Values(QSize(640, 480), QSize(1280, 480), QSize(320, 240)),
                         [](const auto& info) {
                           return std::to_string(info.param.width()) + "x" +
                                  std::to_string(info.param.height());
                         });

TEST(CloudViewPickTest, TakesTheNearerOfPointsOnOneRayAndNothingFarFromTheClick) {
  const TLens lens = OffCentreLens();
  // A board point in front of a wall point on the same pixel's ray.
  const TCloud cloud = PinholeCloud(lens, {{{200, 200}, 2000}, {{200, 200}, 1200}, {{400, 300}, 1500}});
  const QSize widget(640, 480);
  const QMatrix4x4 matrix = ProjectionMatrix(lens, widget, 10, 100000) * ViewMatrix(CameraOrbit(cloud));
  EXPECT_EQ(PickPoint(cloud, matrix, widget, {202, 199}, 6), std::optional<size_t>(1));
  EXPECT_EQ(PickPoint(cloud, matrix, widget, {398, 303}, 6), std::optional<size_t>(2));
  EXPECT_EQ(PickPoint(cloud, matrix, widget, {300, 100}, 6), std::nullopt);
}

TEST(CloudViewOrbitTest, TurningAboutTheCentreKeepsItInTheMiddleAndShowsDepthAcross) {
  const TLens lens = OffCentreLens();
  const TCloud cloud = PinholeCloud(lens, {{{320, 240}, 1000}, {{320, 240}, 1400}});
  TOrbit orbit = CameraOrbit(cloud);
  orbit.Target = QVector3D(0, 0, 1200);
  orbit.Distance = 1200;
  orbit.Yaw_deg = -90;
  orbit.Pitch_deg = 0;
  const QSize widget(640, 480);
  const QMatrix4x4 matrix = ProjectionMatrix(lens, widget, 10, 100000) * ViewMatrix(orbit);
  const auto centre = ProjectToWidget(matrix, widget, orbit.Target);
  ASSERT_TRUE(centre.has_value());
  EXPECT_NEAR(centre->x(), 300, 1);
  // Seen from the camera's right, looking back across its axis, the camera
  // is on the left: the nearer point lies left of the centre, the farther right.
  const auto near_point = ProjectToWidget(matrix, widget, cloud.Positions[0]);
  const auto far_point = ProjectToWidget(matrix, widget, cloud.Positions[1]);
  ASSERT_TRUE(near_point && far_point);
  EXPECT_LT(near_point->x(), centre->x() - 50);
  EXPECT_GT(far_point->x(), centre->x() + 50);
}

TEST(LiveRatesTest, RatesFollowFrameNumbersAndGapsCountAsDropped) {
  TLiveRates rates;
  // Source 1 at 10 frames per second, every frame taken; source 2 at the
  // same rate but only every other frame taken, and one frame taken twice.
  for (int i = 1; i <= 30; ++i) {
    const double now = 1000.0 + i * 100.0;
    rates.Frame(1, FrameStamp{static_cast<uint64_t>(i), now}, now);
    if (i % 2 == 0) {
      rates.Frame(2, FrameStamp{static_cast<uint64_t>(i), now}, now);
      rates.Frame(2, FrameStamp{static_cast<uint64_t>(i), now}, now);
      rates.Pair(now);
    }
  }
  const TRatesShown shown = rates.Now(4000);
  EXPECT_NEAR(shown.FramesPerSecond[0], 10, 0.01);
  EXPECT_NEAR(shown.FramesPerSecond[1], 10, 0.01);
  EXPECT_NEAR(shown.PairsPerSecond, 5, 0.01);
  EXPECT_EQ(shown.Dropped[0], 0U);
  EXPECT_EQ(shown.Dropped[1], 14U);
  // Two seconds without frames: nothing comes any more.
  EXPECT_EQ(rates.Now(6500).FramesPerSecond[0], 0);
  // A source that counts from 1 again goes on being counted.
  for (int i = 1; i <= 5; ++i) rates.Frame(1, FrameStamp{static_cast<uint64_t>(i), 0}, 7000.0 + i * 200.0);
  EXPECT_NEAR(rates.Now(8000).FramesPerSecond[0], 5, 0.01);
}

}  // namespace
