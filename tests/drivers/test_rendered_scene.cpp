// The picture itself: a chessboard that OpenCV finds in both cameras of a
// triggered pair, a rig that calibration recovers, and a sensor that responds
// to exposure, brightness and contrast.
#include <gtest/gtest.h>

#include <filesystem>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "tests/drivers/camera_session.h"

namespace driver_test {
namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedEnv() { unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
};

cv::Mat View(CameraSession& camera) {
  const auto& format = camera.format();
  const int type = format.bits == 8 ? CV_8UC1 : format.bits == 24 ? CV_8UC3 : CV_8UC4;
  return cv::Mat(format.height, format.width, type, const_cast<uint8_t*>(camera.pixels()),
                 static_cast<size_t>(camera.pitch()))
      .clone();
}

// Both cameras of the rig in software-trigger mode, grey, at the workbench's size.
class TriggeredPair : public ::testing::Test {
 protected:
  static constexpr CameraSession::Format kGrey{640, 480, 8, IS_CM_MONO8};

  void SetUp() override {
    for (uint32_t id : {1u, 2u}) {
      cameras_.push_back(std::make_unique<CameraSession>(library_, id, kGrey));
      ASSERT_EQ(DRIVER(library_, is_SetExternalTrigger)(cameras_.back()->handle(), IS_SET_TRIGGER_SOFTWARE),
                IS_SUCCESS);
    }
  }

  // Triggers both cameras with the scene held at `scene_time_s` and returns
  // their pictures.
  bool SnapPair(double scene_time_s, cv::Mat& left, cv::Mat& right) {
    if (DRIVER(library_, stereo_sim_SetSceneTime)(scene_time_s) != IS_SUCCESS) return false;
    for (auto& camera : cameras_) {
      camera->events().Take();
      if (DRIVER(library_, is_FreezeVideo)(camera->handle(), 0) != IS_SUCCESS) return false;
    }
    for (auto& camera : cameras_) {
      if (camera->events().WaitFor(1, std::chrono::seconds(5)) != 1) return false;
    }
    left = View(*cameras_[0]);
    right = View(*cameras_[1]);
    return true;
  }

  StereoSimCameraModel Truth(uint32_t id) {
    StereoSimCameraModel model{};
    EXPECT_EQ(DRIVER(library_, stereo_sim_GetCameraModel)(id, 640, 480, &model), IS_SUCCESS);
    return model;
  }

  ScopedEnv speed_{"STEREO_SIM_SCENE_SPEED", "0"};  // the test picks each pose
  DriverLibrary library_{"libuEye_api.so"};
  std::vector<std::unique_ptr<CameraSession>> cameras_;
};

bool FindCorners(const cv::Mat& image, std::vector<cv::Point2f>& corners) {
  if (!cv::findChessboardCorners(image, {8, 6}, corners,
                                 cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE)) {
    return false;
  }
  cv::cornerSubPix(image, corners, {5, 5}, {-1, -1},
                   cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 40, 0.001));
  return true;
}

TEST_F(TriggeredPair, BoardIsFoundInBothCamerasInMostPoses) {
  int found = 0;
  constexpr int kPairs = 12;
  for (int i = 0; i < kPairs; ++i) {
    cv::Mat left, right;
    ASSERT_TRUE(SnapPair(i * 1.37, left, right));
    std::vector<cv::Point2f> corners;
    found += FindCorners(left, corners) && corners.size() == 48 && FindCorners(right, corners);
  }
  EXPECT_GE(found, kPairs * 3 / 4);
}

TEST_F(TriggeredPair, CalibrationRecoversTheRig) {
  StereoSimBoard board{};
  ASSERT_EQ(DRIVER(library_, stereo_sim_GetBoard)(&board), IS_SUCCESS);
  ASSERT_EQ(board.inner_columns, 8);
  ASSERT_EQ(board.inner_rows, 6);
  std::vector<cv::Point3f> target;
  for (int row = 0; row < board.inner_rows; ++row) {
    for (int col = 0; col < board.inner_columns; ++col) {
      target.emplace_back(static_cast<float>(col * board.square_mm),
                          static_cast<float>(row * board.square_mm), 0.f);
    }
  }
  std::vector<std::vector<cv::Point3f>> objects;
  std::vector<std::vector<cv::Point2f>> left_points, right_points;
  for (int attempt = 0; attempt < 40 && objects.size() < 15; ++attempt) {
    cv::Mat left, right;
    ASSERT_TRUE(SnapPair(attempt * 1.41, left, right));
    std::vector<cv::Point2f> left_corners, right_corners;
    if (FindCorners(left, left_corners) && FindCorners(right, right_corners)) {
      objects.push_back(target);
      left_points.push_back(left_corners);
      right_points.push_back(right_corners);
    }
  }
  ASSERT_EQ(objects.size(), 15u);

  const int flags = cv::CALIB_FIX_K3;
  cv::Mat k1, d1, k2, d2;
  std::vector<cv::Mat> rotations, translations;
  cv::calibrateCamera(objects, left_points, {640, 480}, k1, d1, rotations, translations, flags);
  cv::calibrateCamera(objects, right_points, {640, 480}, k2, d2, rotations, translations, flags);
  for (const auto& [id, k, d] : {std::tuple{1u, k1, d1}, std::tuple{2u, k2, d2}}) {
    const StereoSimCameraModel truth = Truth(id);
    SCOPED_TRACE("camera " + std::to_string(id));
    EXPECT_NEAR(k.at<double>(0, 0), truth.fx, truth.fx * 0.01);
    EXPECT_NEAR(k.at<double>(1, 1), truth.fy, truth.fy * 0.01);
    EXPECT_NEAR(k.at<double>(0, 2), truth.cx, truth.cx * 0.01);
    EXPECT_NEAR(k.at<double>(1, 2), truth.cy, truth.cy * 0.01);
    EXPECT_NEAR(d.at<double>(0), truth.k1, 0.02);
  }
  cv::Mat rotation, translation, essential, fundamental;
  cv::stereoCalibrate(objects, left_points, right_points, k1, d1, k2, d2, {640, 480}, rotation, translation,
                      essential, fundamental, cv::CALIB_FIX_INTRINSIC);
  const StereoSimCameraModel right_truth = Truth(2);
  const cv::Vec3d true_translation(right_truth.translation);
  EXPECT_NEAR(cv::norm(translation), cv::norm(true_translation), cv::norm(true_translation) * 0.02);
  EXPECT_NEAR(translation.at<double>(0), true_translation[0], 3.0);
}

// One camera looking at a board that holds still, so pictures compare.
class StillScene : public ::testing::Test {
 protected:
  void SetUp() override {
    camera_ = std::make_unique<CameraSession>(library_, 1, CameraSession::Format{320, 240, 8, IS_CM_MONO8});
  }

  double MeanAfter(const char* setter, int32_t value) {
    const auto set = library_.Fn<int32_t(HCAM, int32_t)>(setter);
    EXPECT_EQ(set(camera_->handle(), value), IS_SUCCESS);
    EXPECT_TRUE(camera_->Snap());
    return cv::mean(View(*camera_))[0];
  }

  double MeanAtExposure(double ms) {
    double in_effect = 0;
    EXPECT_EQ(DRIVER(library_, is_SetExposureTime)(camera_->handle(), ms, &in_effect), IS_SUCCESS);
    EXPECT_TRUE(camera_->Snap());
    return cv::mean(View(*camera_))[0];
  }

  ScopedEnv still_{"STEREO_SIM_SOURCE", "still"};
  DriverLibrary library_{"libuEye_api.so"};
  std::unique_ptr<CameraSession> camera_;
};

TEST_F(StillScene, LongerExposureIsBrighterUntilTheSensorSaturates) {
  const double dim = MeanAtExposure(4.0);
  const double bright = MeanAtExposure(12.0);
  EXPECT_GT(bright, dim * 2.0);
  MeanAtExposure(39.0);
  const cv::Mat saturated = View(*camera_);
  double lowest = 0, highest = 0;
  cv::minMaxLoc(saturated, &lowest, &highest);
  EXPECT_EQ(highest, 255.0);
  EXPECT_GT(cv::countNonZero(saturated == 255), saturated.total() / 10);
}

TEST_F(StillScene, BrightnessOffsetsAndContrastScales) {
  MeanAtExposure(6.0);
  const double normal = MeanAfter("is_SetBrightness", 128);
  EXPECT_NEAR(MeanAfter("is_SetBrightness", 168), normal + 20.0, 3.0);
  MeanAfter("is_SetBrightness", 128);
  EXPECT_NEAR(MeanAfter("is_SetContrast", 128), normal / 2, 3.0);
}

TEST_F(StillScene, NoiseIsSmallAndCanBeSwitchedOff) {
  ASSERT_TRUE(camera_->Snap());
  const cv::Mat first = View(*camera_);
  ASSERT_TRUE(camera_->Snap());
  const cv::Mat second = View(*camera_);
  EXPECT_GT(cv::norm(first, second, cv::NORM_L1), 0.0);
  EXPECT_LT(cv::norm(first, second, cv::NORM_L1) / first.total(), 3.0);

  camera_.reset();
  ScopedEnv quiet("STEREO_SIM_NOISE", "0");
  camera_ = std::make_unique<CameraSession>(library_, 1, CameraSession::Format{320, 240, 8, IS_CM_MONO8});
  ASSERT_TRUE(camera_->Snap());
  const cv::Mat clean_first = View(*camera_);
  ASSERT_TRUE(camera_->Snap());
  EXPECT_EQ(cv::norm(clean_first, View(*camera_), cv::NORM_L1), 0.0);
}

TEST_F(StillScene, ColourModesCarryTheSamePicture) {
  ASSERT_TRUE(camera_->Snap());
  const cv::Mat grey = View(*camera_);
  camera_.reset();
  ScopedEnv quiet("STEREO_SIM_NOISE", "0");
  for (const auto& format : {CameraSession::Format{320, 240, 24, IS_CM_BGR24},
                             CameraSession::Format{320, 240, 32, IS_CM_BGRX32}}) {
    camera_ = std::make_unique<CameraSession>(library_, 1, format);
    ASSERT_TRUE(camera_->Snap());
    cv::Mat colour = View(*camera_);
    std::vector<cv::Mat> planes;
    cv::split(colour, planes);
    EXPECT_LT(cv::norm(planes[1], grey, cv::NORM_L1) / grey.total(), 2.0);  // green carries the grey
    EXPECT_GT(cv::mean(planes[1])[0], cv::mean(planes[0])[0]);              // a slight colour cast
    camera_.reset();
  }
}

TEST_F(StillScene, ImagePositionMovesTheReadoutWindow) {
  camera_.reset();
  ScopedEnv quiet("STEREO_SIM_NOISE", "0");
  camera_ = std::make_unique<CameraSession>(library_, 1, CameraSession::Format{320, 240, 8, IS_CM_MONO8});
  ASSERT_TRUE(camera_->Snap());
  const cv::Mat centred = View(*camera_);
  ASSERT_EQ(DRIVER(library_, is_SetImagePos)(camera_->handle(), 12, -5), IS_SUCCESS);
  ASSERT_TRUE(camera_->Snap());
  const cv::Mat moved = View(*camera_);
  // What the centred window saw at (x, y) the moved one sees at (x - 12, y + 5).
  const cv::Rect overlap(12, 0, 320 - 12, 240 - 5);
  EXPECT_LE(cv::norm(centred(overlap), moved(overlap - cv::Point(12, -5)), cv::NORM_INF), 1.0);
  EXPECT_GT(cv::norm(centred, moved, cv::NORM_INF), 100.0);
  EXPECT_EQ(DRIVER(library_, is_SetImagePos)(camera_->handle(), 5000, 0), IS_INVALID_PARAMETER);
}

TEST(RigGroundTruth, FollowsTheEnvironmentAndTheImageSize) {
  ScopedEnv intrinsics("STEREO_SIM_CAM1_INTRINSICS", "1000, 990, 640, 512");
  ScopedEnv distortion("STEREO_SIM_CAM1_DISTORTION", "-0.2,0.1,0.001,-0.002");
  ScopedEnv translation("STEREO_SIM_CAM2_TRANSLATION", "-80,0,0");
  DriverLibrary library("libuEye_api.so");
  StereoSimCameraModel full{};
  ASSERT_EQ(DRIVER(library, stereo_sim_GetCameraModel)(1, 1280, 1024, &full), IS_SUCCESS);
  EXPECT_DOUBLE_EQ(full.fx, 1000.0);
  EXPECT_DOUBLE_EQ(full.fy, 990.0);
  EXPECT_DOUBLE_EQ(full.cx, 640.0);
  EXPECT_DOUBLE_EQ(full.k1, -0.2);
  EXPECT_DOUBLE_EQ(full.p2, -0.002);
  StereoSimCameraModel half{};
  ASSERT_EQ(DRIVER(library, stereo_sim_GetCameraModel)(1, 640, 480, &half), IS_SUCCESS);
  EXPECT_DOUBLE_EQ(half.fx, 500.0);
  EXPECT_DOUBLE_EQ(half.cx, 320.0);
  EXPECT_DOUBLE_EQ(half.cy, 240.0);  // binned, then the middle 480 rows
  EXPECT_DOUBLE_EQ(half.k1, -0.2);
  StereoSimCameraModel right{};
  ASSERT_EQ(DRIVER(library, stereo_sim_GetCameraModel)(2, 640, 480, &right), IS_SUCCESS);
  EXPECT_DOUBLE_EQ(right.translation[0], -80.0);
  EXPECT_EQ(DRIVER(library, stereo_sim_GetCameraModel)(3, 640, 480, &right), IS_INVALID_PARAMETER);
  EXPECT_EQ(DRIVER(library, stereo_sim_GetCameraModel)(1, 0, 480, &right), IS_INVALID_PARAMETER);
}

TEST(RigGroundTruth, RigFileHoldsWhatTheQueryGives) {
  const auto path = std::filesystem::temp_directory_path() / ("rig_" + std::to_string(getpid()) + ".yml");
  DriverLibrary library("libuEye_api.so");
  ASSERT_EQ(DRIVER(library, stereo_sim_WriteRigFile)(path.c_str(), 640, 480), IS_SUCCESS);
  cv::FileStorage file(path.string(), cv::FileStorage::READ);
  ASSERT_TRUE(file.isOpened());
  cv::Mat k1, d2, t;
  file["K1"] >> k1;
  file["D2"] >> d2;
  file["T"] >> t;
  StereoSimCameraModel left{}, right{};
  DRIVER(library, stereo_sim_GetCameraModel)(1, 640, 480, &left);
  DRIVER(library, stereo_sim_GetCameraModel)(2, 640, 480, &right);
  EXPECT_DOUBLE_EQ(k1.at<double>(0, 0), left.fx);
  EXPECT_DOUBLE_EQ(k1.at<double>(1, 2), left.cy);
  EXPECT_DOUBLE_EQ(d2.at<double>(0), right.k1);
  EXPECT_DOUBLE_EQ(t.at<double>(0), right.translation[0]);
  std::filesystem::remove(path);
  EXPECT_EQ(DRIVER(library, stereo_sim_WriteRigFile)("/nonexistent-folder/rig.yml", 640, 480), IS_NO_SUCCESS);
}

TEST(RigGroundTruth, OpeningACameraWritesTheRigFileAsked) {
  const auto path = std::filesystem::temp_directory_path() / ("asked_" + std::to_string(getpid()) + ".yml");
  ScopedEnv file_name("STEREO_SIM_RIG_FILE", path.string());
  ScopedEnv size("STEREO_SIM_RIG_SIZE", "320x240");
  DriverLibrary library("libuEye_api.so");
  HCAM camera = 0;
  ASSERT_EQ(DRIVER(library, is_InitCamera)(&camera, nullptr), IS_SUCCESS);
  cv::FileStorage file(path.string(), cv::FileStorage::READ);
  ASSERT_TRUE(file.isOpened());
  EXPECT_EQ(static_cast<int>(file["image_width"]), 320);
  cv::Mat k1;
  file["K1"] >> k1;
  StereoSimCameraModel truth{};
  DRIVER(library, stereo_sim_GetCameraModel)(1, 320, 240, &truth);
  EXPECT_DOUBLE_EQ(k1.at<double>(0, 0), truth.fx);
  DRIVER(library, is_ExitCamera)(camera);
  std::filesystem::remove(path);
}

TEST(RecordedPairs, ReplaceTheRenderedScene) {
  const auto folder = std::filesystem::temp_directory_path() / ("pairs_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  cv::imwrite((folder / "shot1L.png").string(), cv::Mat(60, 80, CV_8UC3, cv::Scalar(40, 40, 40)));
  cv::imwrite((folder / "shot1R.png").string(), cv::Mat(60, 80, CV_8UC3, cv::Scalar(200, 200, 200)));
  cv::imwrite((folder / "lonelyL.png").string(), cv::Mat(60, 80, CV_8UC3, cv::Scalar(90, 90, 90)));
  ScopedEnv replay("STEREO_SIM_REPLAY", folder.string());
  {
    DriverLibrary library("libuEye_api.so");
    CameraSession left(library, 1, {160, 120, 8, IS_CM_MONO8});
    CameraSession right(library, 2, {160, 120, 24, IS_CM_BGR24});
    ASSERT_TRUE(left.Snap());
    ASSERT_TRUE(right.Snap());
    EXPECT_NEAR(cv::mean(View(left))[0], 40.0, 1.0);  // the unpaired file is not shown
    EXPECT_NEAR(cv::mean(View(right))[2], 200.0, 1.0);
  }
  std::filesystem::remove_all(folder);
}

// ---- depth truth ----------------------------------------------------------

struct TruthCase {
  const char* source;
  double scene_time_s;
};

// A triggered pair of a rendered source held still, with the library's truth
// of the same moment.
class DepthTruth : public TriggeredPair, public ::testing::WithParamInterface<TruthCase> {
 protected:
  ScopedEnv source_{"STEREO_SIM_SOURCE", GetParam().source};
  ScopedEnv quiet_{"STEREO_SIM_NOISE", "0"};
};

cv::Mat DepthOf(DriverLibrary& library, uint32_t camera_id) {
  cv::Mat depth(480, 640, CV_32F);
  EXPECT_EQ(DRIVER(library, stereo_sim_GetDepthTruth)(camera_id, 640, 480, depth.ptr<float>()), IS_SUCCESS);
  return depth;
}

cv::Matx33d RotationOf(const StereoSimCameraModel& m) {
  cv::Matx33d rotation;
  cv::Rodrigues(cv::Vec3d(m.rotation), rotation);
  return rotation;
}

cv::Matx33d CameraMatrix(const StereoSimCameraModel& m) { return {m.fx, 0, m.cx, 0, m.fy, m.cy, 0, 0, 1}; }
cv::Vec4d Lens(const StereoSimCameraModel& m) { return {m.k1, m.k2, m.p1, m.p2}; }

std::vector<cv::Point2d> Normalised(const std::vector<cv::Point2f>& pixels, const StereoSimCameraModel& m) {
  std::vector<cv::Point2d> ideal;
  cv::undistortPoints(std::vector<cv::Point2d>(pixels.begin(), pixels.end()), ideal, CameraMatrix(m), Lens(m),
                      cv::noArray(), cv::noArray(),
                      cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-12));
  return ideal;
}

TEST_P(DepthTruth, BoardCornersTriangulateToTheTruthOfBothCameras) {
  cv::Mat left, right;
  ASSERT_TRUE(SnapPair(GetParam().scene_time_s, left, right));
  std::vector<cv::Point2f> left_corners, right_corners;
  ASSERT_TRUE(FindCorners(left, left_corners) && FindCorners(right, right_corners));
  const StereoSimCameraModel m1 = Truth(1), m2 = Truth(2);
  const cv::Matx33d rotation = RotationOf(m2);
  const cv::Vec3d translation(m2.translation);
  cv::Mat points;
  cv::triangulatePoints(cv::Matx34d::eye(),
                        cv::Matx34d(rotation(0, 0), rotation(0, 1), rotation(0, 2), translation[0],
                                    rotation(1, 0), rotation(1, 1), rotation(1, 2), translation[1],
                                    rotation(2, 0), rotation(2, 1), rotation(2, 2), translation[2]),
                        Normalised(left_corners, m1), Normalised(right_corners, m2), points);
  const cv::Mat depth1 = DepthOf(library_, 1), depth2 = DepthOf(library_, 2);
  for (int i = 0; i < points.cols; ++i) {
    const cv::Vec3d in_left =
        cv::Vec3d(points.at<double>(0, i), points.at<double>(1, i), points.at<double>(2, i)) /
        points.at<double>(3, i);
    const cv::Vec3d in_right = rotation * in_left + translation;
    for (const auto& [depth, corner, z] : {std::tuple{depth1, left_corners[i], in_left[2]},
                                           std::tuple{depth2, right_corners[i], in_right[2]}}) {
      const float truth = depth.at<float>(cvRound(corner.y), cvRound(corner.x));
      EXPECT_NEAR(truth, z, z * 0.005) << "corner " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RenderedSources, DepthTruth,
                         ::testing::Values(TruthCase{"board", 3.0}, TruthCase{"scene", 3.0},
                                           TruthCase{"scene", 1004.1}));

// The textured scene held still, without sensor noise.
class DepthScene : public TriggeredPair {
 protected:
  static constexpr double kFarBoard_s = 1002.0;
  ScopedEnv source_{"STEREO_SIM_SOURCE", "scene"};
  ScopedEnv quiet_{"STEREO_SIM_NOISE", "0"};
};

cv::Mat WithTruth(const cv::Mat& disparity) {
  cv::Mat known(disparity.size(), CV_8U);
  disparity.forEach<float>(
      [&](float d, const int* at) { known.at<uint8_t>(at[0], at[1]) = std::isnan(d) ? 0 : 255; });
  return known;
}

// Mean grey difference between the left image and the right one sampled
// `shift` + the truth's disparity to the left, over the pixels with a truth.
double PartnerDifference(const cv::Mat& left, const cv::Mat& right, const cv::Mat& disparity, float shift) {
  cv::Mat partner_x(disparity.size(), CV_32F), partner_y(disparity.size(), CV_32F);
  for (int v = 0; v < disparity.rows; ++v) {
    for (int u = 0; u < disparity.cols; ++u) {
      partner_x.at<float>(v, u) = u - disparity.at<float>(v, u) - shift;
      partner_y.at<float>(v, u) = static_cast<float>(v);
    }
  }
  cv::Mat partner, difference;
  cv::remap(right, partner, partner_x, partner_y, cv::INTER_LINEAR);
  cv::absdiff(left, partner, difference);
  return cv::mean(difference, WithTruth(disparity))[0];
}

TEST_F(DepthScene, RectifiedPairAgreesWhereTheDisparityTruthSaysItShould) {
  cv::Mat left, right;
  ASSERT_TRUE(SnapPair(kFarBoard_s, left, right));
  const StereoSimCameraModel m1 = Truth(1), m2 = Truth(2);
  const cv::Matx33d k1 = CameraMatrix(m1), k2 = CameraMatrix(m2);
  const cv::Vec4d d1 = Lens(m1), d2 = Lens(m2);
  cv::Mat r1, r2, p1, p2, q;
  cv::stereoRectify(k1, d1, k2, d2, left.size(), RotationOf(m2), cv::Vec3d(m2.translation), r1, r2, p1, p2,
                    q);
  cv::Mat disparity(left.size(), CV_32F);
  ASSERT_EQ(DRIVER(library_, stereo_sim_GetRectifiedDisparityTruth)(
                640, 480, k1.val, d1.val, r1.ptr<double>(), p1.ptr<double>(), k2.val, d2.val,
                r2.ptr<double>(), p2.ptr<double>(), disparity.ptr<float>()),
            IS_SUCCESS);
  cv::Mat rectified[2];
  for (const auto& [image, k, d, r, p, out] :
       {std::tuple{left, k1, d1, r1, p1, &rectified[0]}, std::tuple{right, k2, d2, r2, p2, &rectified[1]}}) {
    cv::Mat map_x, map_y;
    cv::initUndistortRectifyMap(k, d, r, p, image.size(), CV_32FC1, map_x, map_y);
    cv::remap(image, *out, map_x, map_y, cv::INTER_LINEAR);
  }
  const double matched = PartnerDifference(rectified[0], rectified[1], disparity, 0.0f);
  EXPECT_LT(matched, 1.5);
  // The texture tells a pixel's shift apart: the check has teeth.
  EXPECT_GT(PartnerDifference(rectified[0], rectified[1], disparity, 1.0f), matched * 4);
  const cv::Mat known = WithTruth(disparity);
  EXPECT_GT(cv::countNonZero(known), known.total() * 3 / 4);
  // Left of the board camera 2 sees the board where camera 1 sees the wall: no truth there.
  const cv::Mat middle = known(cv::Rect(100, 100, 440, 280));
  EXPECT_GT(cv::countNonZero(middle == 0), 100);
}

TEST_F(DepthScene, TextureCoversTheViewAndThePanelHidesTheWall) {
  cv::Mat left, right;
  ASSERT_TRUE(SnapPair(kFarBoard_s, left, right));
  cv::Mat grey, mean, square;
  left.convertTo(grey, CV_32F);
  cv::blur(grey, mean, {7, 7});
  cv::blur(grey.mul(grey), square, {7, 7});
  const cv::Mat textured = square - mean.mul(mean) > 16.0;  // a local spread of 4 grey levels
  EXPECT_GT(cv::countNonZero(textured), left.total() * 98 / 100);
  const cv::Mat depth = DepthOf(library_, 1);
  double nearest = 0, farthest = 0;
  cv::minMaxLoc(depth, &nearest, &farthest);
  const double share_far = cv::countNonZero(depth > farthest * 0.99) / static_cast<double>(depth.total());
  const double share_near = cv::countNonZero(depth < farthest * 0.85) / static_cast<double>(depth.total());
  EXPECT_GT(share_far, 0.4);
  EXPECT_GT(share_near, 0.2);
  EXPECT_GT(nearest, 0.0);  // the wall fills every ray
}

TEST(RigGroundTruth, TruthQueriesRefuseBadArguments) {
  DriverLibrary library("libuEye_api.so");
  std::vector<float> out(64 * 48);
  const double k[9] = {100, 0, 32, 0, 100, 24, 0, 0, 1}, d[4] = {}, r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double p[12] = {100, 0, 32, 0, 0, 100, 24, 0, 0, 0, 1, 0};
  const auto depth = DRIVER(library, stereo_sim_GetDepthTruth);
  EXPECT_EQ(depth(0, 64, 48, out.data()), IS_INVALID_PARAMETER);
  EXPECT_EQ(depth(3, 64, 48, out.data()), IS_INVALID_PARAMETER);
  EXPECT_EQ(depth(1, 0, 48, out.data()), IS_INVALID_PARAMETER);
  EXPECT_EQ(depth(1, 64, 48, nullptr), IS_INVALID_PARAMETER);
  const auto disparity = DRIVER(library, stereo_sim_GetRectifiedDisparityTruth);
  EXPECT_EQ(disparity(64, 48, k, d, r, nullptr, k, d, r, p, out.data()), IS_INVALID_PARAMETER);
  EXPECT_EQ(disparity(64, -1, k, d, r, p, k, d, r, p, out.data()), IS_INVALID_PARAMETER);
  EXPECT_EQ(disparity(64, 48, k, d, r, p, k, d, r, p, out.data()), IS_SUCCESS);
}

}  // namespace
}  // namespace driver_test
