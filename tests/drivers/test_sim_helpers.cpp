// The simulator's pure parts against independent references: OpenCV's lens
// model and rotation, its chessboard search on a rendered frame, and the
// parsing of the configuration variables.
#include <gtest/gtest.h>

#include <map>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "drivers/board_scene.h"
#include "drivers/frame_renderer.h"
#include "drivers/lens.h"
#include "drivers/sensor_timing.h"
#include "drivers/sim_config.h"

namespace sim {
namespace {

SimConfig ConfigOf(const std::map<std::string, std::string>& variables) {
  return ReadConfig([&](const char* name) -> const char* {
    const auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second.c_str();
  });
}

TEST(Lens, DistortionMatchesOpenCvsModelAndInvertsWithinTheImage) {
  const Distortion lens{-0.18, 0.08, 0.0008, -0.0005};
  const cv::Matx33d identity = cv::Matx33d::eye();
  const std::vector<double> coefficients{lens.k1, lens.k2, lens.p1, lens.p2, 0.0};
  for (double x = -0.7; x <= 0.7; x += 0.1) {
    for (double y = -0.55; y <= 0.55; y += 0.11) {
      std::vector<cv::Point2d> projected;
      cv::projectPoints(std::vector<cv::Point3d>{{x, y, 1.0}}, cv::Vec3d(), cv::Vec3d(), identity,
                        coefficients, projected);
      const cv::Point2d distorted = Distort({x, y}, lens);
      EXPECT_NEAR(distorted.x, projected[0].x, 1e-12);
      EXPECT_NEAR(distorted.y, projected[0].y, 1e-12);
      const cv::Point2d back = Undistort(distorted, lens);
      EXPECT_NEAR(back.x, x, 1e-9);
      EXPECT_NEAR(back.y, y, 1e-9);
    }
  }
}

TEST(Lens, RotationMatchesRodrigues) {
  for (const cv::Vec3d& vector : {cv::Vec3d(0.004, 0.03, -0.002), cv::Vec3d(0.4, -0.3, 0.2), cv::Vec3d()}) {
    cv::Matx33d expected;
    cv::Rodrigues(vector, expected);
    EXPECT_LT(cv::norm(RotationFromVector(vector) - expected), 1e-12);
  }
}

TEST(SensorTiming, FortyMegahertzRunsA640x480SensorAtAHundredFrames) {
  const FrameTimeRange range = FrameTimeRangeFor(40, 640, 480);
  EXPECT_NEAR(range.shortest_s, 0.010, 1e-12);
  EXPECT_NEAR(range.step_s, 20e-6, 1e-12);
  EXPECT_NEAR(FrameTimeInEffect(range, 25.0), 0.040, 1e-12);
  EXPECT_NEAR(FrameTimeInEffect(range, 500.0), range.shortest_s, 1e-12);
  EXPECT_NEAR(FrameTimeInEffect(range, 0.0), range.longest_s, 1e-12);
  const ExposureRange exposure = ExposureRangeFor(range, 0.040);
  EXPECT_NEAR(exposure.max_ms, 39.98, 1e-9);
  EXPECT_NEAR(ExposureInEffect(exposure, 10.009), 10.0, 1e-9);  // whole lines
  EXPECT_NEAR(ExposureInEffect(exposure, 10.011), 10.02, 1e-9);
  // A sensor too large for the longest frame still gets a usable range.
  const FrameTimeRange huge = FrameTimeRangeFor(5, 4000, 3000);
  EXPECT_GE(huge.longest_s, huge.shortest_s);
}

TEST(SimConfigParsing, NumberListsAndSizes) {
  EXPECT_EQ(ParseNumberList("1, 2.5,-3e2", 3), (std::vector<double>{1, 2.5, -300}));
  EXPECT_FALSE(ParseNumberList("1,2", 3));
  EXPECT_FALSE(ParseNumberList("1,,3", 3));
  EXPECT_FALSE(ParseNumberList("1,2,x", 3));
  EXPECT_EQ(ParseImageSize("640x480"), (std::pair{640, 480}));
  EXPECT_FALSE(ParseImageSize("640x"));
  EXPECT_FALSE(ParseImageSize("0x480"));
  EXPECT_FALSE(ParseImageSize("640x480x3"));
}

TEST(SimConfigParsing, FaultAndUnplugRules) {
  const auto faults = ParseFaultRules("is_FreezeVideo:3:-1,is_AllocImageMem:1:1");
  ASSERT_TRUE(faults);
  ASSERT_EQ(faults->size(), 2u);
  EXPECT_EQ((*faults)[0].call, "is_FreezeVideo");
  EXPECT_EQ((*faults)[0].nth, 3);
  EXPECT_EQ((*faults)[0].code, -1);
  EXPECT_EQ((*faults)[1].code, 1);
  EXPECT_TRUE(ParseFaultRules("") && ParseFaultRules("")->empty());
  for (const char* bad : {"is_FreezeVideo:0:1", "is_FreezeVideo:1", ":1:1", "a:1:1,", "a:x:1", "a:1:1:1"})
    EXPECT_FALSE(ParseFaultRules(bad)) << bad;
  const auto unplug = ParseUnplugRules("2:5,1:0.5");
  ASSERT_TRUE(unplug && unplug->size() == 2u);
  EXPECT_EQ((*unplug)[1].camera_id, 1u);
  EXPECT_EQ((*unplug)[1].after_s, 0.5);
  for (const char* bad : {"0:5", "1:-1", "1", "1:5,", "x:5"}) EXPECT_FALSE(ParseUnplugRules(bad)) << bad;
}

TEST(SimConfigParsing, VariablesOverrideDefaultsAndBadValuesAreIgnored) {
  const SimConfig defaults = ConfigOf({});
  EXPECT_EQ(defaults.camera_count, 2);
  EXPECT_EQ(defaults.source, ImageSource::kMovingBoard);
  ASSERT_EQ(defaults.cameras.size(), 2u);
  EXPECT_NEAR(cv::norm(defaults.cameras[1].translation), 120.0, 0.1);

  const SimConfig changed = ConfigOf({{"STEREO_SIM_CAMERAS", "3"},
                                      {"STEREO_SIM_MODEL", "AVeryLongModelNameIndeed"},
                                      {"STEREO_SIM_NOISE", "2.5"},
                                      {"STEREO_SIM_CAM3_ROTATION", "0,0.1,0"},
                                      {"STEREO_SIM_CAM2_DISTORTION", "0,0,0"},
                                      {"STEREO_SIM_SQUARE_MM", "-4"},
                                      {"STEREO_SIM_REPLAY", "/some/folder"}});
  EXPECT_EQ(changed.camera_count, 3);
  EXPECT_EQ(changed.model_name.size(), 15u);  // room for the terminator in the camera list
  EXPECT_EQ(changed.noise_dn, 2.5);
  EXPECT_EQ(changed.cameras[2].rotation, cv::Vec3d(0, 0.1, 0));
  EXPECT_EQ(changed.cameras[1].distortion.k1, defaults.cameras[1].distortion.k1);  // three numbers: refused
  EXPECT_EQ(changed.square_mm, defaults.square_mm);
  EXPECT_EQ(changed.source, ImageSource::kReplay);
  EXPECT_EQ(ConfigOf({{"STEREO_SIM_CAMERAS", "65"}}).camera_count, 2);
  EXPECT_EQ(ConfigOf({{"STEREO_SIM_SOURCE", "still"}}).source, ImageSource::kStillBoard);
  EXPECT_EQ(ConfigOf({{"STEREO_SIM_SOURCE", "scene"}}).source, ImageSource::kScene);
}

TEST(BoardPath, StaysInFrontOfTheRigAndKeepsMoving) {
  double nearest = 1e9, farthest = 0, largest_step = 0;
  cv::Vec3d previous = BoardPoseAt(0).centre_mm;
  for (double t = 0.1; t < 120.0; t += 0.1) {
    const BoardPose pose = BoardPoseAt(t);
    nearest = std::min(nearest, pose.centre_mm[2]);
    farthest = std::max(farthest, pose.centre_mm[2]);
    largest_step = std::max(largest_step, cv::norm(pose.centre_mm - previous));
    previous = pose.centre_mm;
  }
  EXPECT_GT(nearest, 400.0);
  EXPECT_LT(farthest, 900.0);
  EXPECT_GT(farthest - nearest, 250.0);
  EXPECT_LT(largest_step, 30.0);  // smooth: under 30 mm per tenth of a second
}

// Corners found in a rendered, noise-free frame lie where the lens model
// projects the board's corners.
TEST(Rendering, CornersLandWhereTheCameraModelProjectsThem) {
  const SimConfig config = ConfigOf({{"STEREO_SIM_NOISE", "0"}});
  for (uint32_t id : {1u, 2u}) {
    FrameRenderer renderer(config, id);
    std::vector<uint8_t> pixels(size_t{640} * 480);
    FrameRequest request;
    request.pixels = pixels.data();
    request.pitch = 640;
    request.width = 640;
    request.height = 480;
    request.colour_mode = IS_CM_MONO8;
    request.exposure_ms = 8.0;
    request.camera = ModelForImage(config.cameras[id - 1], 640, 480);
    for (double t : {0.0, 3.1, 7.4}) {
      request.scene_time_s = t;
      renderer.Render(request);
      const cv::Mat image(480, 640, CV_8UC1, pixels.data());
      std::vector<cv::Point2f> found;
      ASSERT_TRUE(cv::findChessboardCorners(image, {8, 6}, found)) << "camera " << id << " at " << t;
      cv::cornerSubPix(image, found, {5, 5}, {-1, -1},
                       {cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 50, 1e-4});

      const BoardPose pose = BoardPoseAt(t);
      const StereoSimCameraModel& cam = request.camera;
      const cv::Matx33d rotation = RotationFromVector({cam.rotation[0], cam.rotation[1], cam.rotation[2]});
      const cv::Vec3d translation(cam.translation);
      const cv::Vec3d centre(3.5 * config.square_mm, 2.5 * config.square_mm, 0);
      std::vector<cv::Point3d> corners;
      for (int row = 0; row < 6; ++row) {
        for (int col = 0; col < 8; ++col) {
          const cv::Vec3d on_board(col * config.square_mm, row * config.square_mm, 0);
          corners.emplace_back(rotation * (pose.rotation * (on_board - centre) + pose.centre_mm) +
                               translation);
        }
      }
      std::vector<cv::Point2d> expected;
      cv::projectPoints(corners, cv::Vec3d(), cv::Vec3d(),
                        cv::Matx33d(cam.fx, 0, cam.cx, 0, cam.fy, cam.cy, 0, 0, 1),
                        std::vector<double>{cam.k1, cam.k2, cam.p1, cam.p2, 0}, expected);
      // The search may start at either end of the board.
      const bool reversed = cv::norm(cv::Point2d(found.front()) - expected.back()) <
                            cv::norm(cv::Point2d(found.front()) - expected.front());
      double total = 0;
      for (size_t i = 0; i < found.size(); ++i) {
        total += cv::norm(cv::Point2d(found[i]) - expected[reversed ? found.size() - 1 - i : i]);
      }
      EXPECT_LT(total / found.size(), 0.1) << "camera " << id << " at " << t;
    }
  }
}

}  // namespace
}  // namespace sim
