// The calibration's search and views on frames of the simulated rig,
// rendered directly, judged by the rig's own truth.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <opencv2/imgcodecs.hpp>

#include "drivers/board_scene.h"
#include "drivers/frame_renderer.h"
#include "filters/saved_views.h"
#include "filters/ucalibfilter.h"

namespace {

struct RigPair {
  std::vector<cv::Mat> frames;
  bool whole = true;  // the whole board in view of both cameras
};

class RigCalibration : public ::testing::Test {
 protected:
  RigCalibration() : config_(sim::ReadConfig([](const char*) -> const char* { return nullptr; })) {}

  RigPair Render(double scene_time_s) {
    RigPair pair;
    for (uint32_t id = 1; id <= 2; ++id) {
      sim::FrameRequest request;
      request.camera = sim::ModelForImage(config_.cameras[id - 1], 640, 480);
      pair.whole = pair.whole &&
                   sim::BoardWhollyInView(sim::BoardPoseAt(scene_time_s), request.camera, config_.square_mm);
      cv::Mat frame(480, 640, CV_8UC3);
      request.pixels = frame.data;
      request.pitch = static_cast<int32_t>(frame.step);
      request.width = 640;
      request.height = 480;
      request.scene_time_s = scene_time_s;
      if (renderers_.size() < id) renderers_.push_back(std::make_unique<sim::FrameRenderer>(config_, id));
      renderers_[id - 1]->Render(request);
      pair.frames.push_back(frame);
    }
    return pair;
  }

  // Pushes the views found at scene times 0, step, 2 step ... until `views`.
  void Collect(TCalibrationFilter& calibration, int views, double step) {
    for (double t = 0; calibration.Cameras[0].ViewCount < views && t < 200; t += step) {
      RigPair pair = Render(t);
      calibration.FindCorners(pair.frames);
      calibration.PushView();
    }
  }

  sim::SimConfig config_;
  // Made at the first frame, with the settings then in force.
  std::vector<std::unique_ptr<sim::FrameRenderer>> renderers_;
};

struct Imaging {
  const char* name;
  bool harsh;
};

class SearchOnRig : public RigCalibration, public ::testing::WithParamInterface<Imaging> {};

TEST_P(SearchOnRig, FindsTheBoardInNearlyEveryPoseWhollyInView) {
  if (GetParam().harsh) config_.imaging = sim::HarshImaging();
  TCalibrationFilter calibration;
  calibration.SetCameraCount(2);
  int in_view = 0, found = 0;
  for (int pose = 0; pose < 60; ++pose) {
    RigPair pair = Render(pose * 0.61);
    if (!pair.whole) continue;
    ++in_view;
    calibration.FindCorners(pair.frames);
    found += calibration.Cameras[0].Found && calibration.Cameras[1].Found;
  }
  const double share = static_cast<double>(found) / in_view;
  RecordProperty("share_found", std::to_string(share));
  std::printf("%s imaging: board found in %d of %d poses wholly in view\n", GetParam().name, found, in_view);
  EXPECT_GT(in_view, 30);
  EXPECT_GE(share, 0.98);
}

INSTANTIATE_TEST_SUITE_P(Imaging, SearchOnRig,
                         ::testing::Values(Imaging{"default", false}, Imaging{"harsh", true}),
                         [](const auto& info) { return std::string(info.param.name); });

class SavedViews : public RigCalibration {
 protected:
  void SetUp() override {
    folder_ = ::testing::TempDir() + "saved_views_" + std::to_string(::getpid());
    std::filesystem::remove_all(folder_);
    for (TCalibrationFilter* c : {&first_, &second_}) {
      c->SetCameraCount(2);
      c->LogMemo = &log_;
    }
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  struct Log : TLogMemo {
    void AppendLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
  } log_;
  std::string folder_;
  TCalibrationFilter first_, second_;
};

TEST_F(SavedViews, LoadBackToTheSameCalibration) {
  first_.SubPixel = true;
  Collect(first_, 12, 1.37);
  ASSERT_EQ(first_.Cameras[0].ViewCount, 12);
  first_.CalibrateCameras();
  ASSERT_TRUE(SaveViews(first_, folder_));

  std::string why;
  const auto settings = ReadViewsSettings(folder_, why);
  ASSERT_TRUE(settings) << why;
  EXPECT_TRUE(settings->SubPixel);
  second_.SubPixel = settings->SubPixel;
  ASSERT_EQ(LoadViewPairs(second_, folder_, ViewPairNames(folder_)), 12);
  second_.CalibrateCameras();
  for (int side = 0; side < 2; ++side) {
    const auto& a = first_.Cameras[side];
    const auto& b = second_.Cameras[side];
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(b.CameraMatrix.val[i], a.CameraMatrix.val[i], 1e-6 * std::abs(a.CameraMatrix.val[i]));
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(b.Distortion[i], a.Distortion[i], 1e-6 * std::abs(a.Distortion[i]));
  }
}

TEST_F(SavedViews, BadFoldersGetALineEachAndLoadWhatTheyCan) {
  EXPECT_FALSE(SaveViews(first_, folder_));
  EXPECT_EQ(log_.lines.back(), "Save views: no views collected");
  Collect(first_, 4, 1.37);
  EXPECT_FALSE(SaveViews(first_, "/proc/no_such_folder/views"));
  EXPECT_EQ(log_.lines.back(), "Save views: /proc/no_such_folder/views can not be written");
  EXPECT_EQ(first_.Cameras[0].ViewCount, 4);

  ASSERT_TRUE(SaveViews(first_, folder_));
  std::ofstream(folder_ + "/02L.png", std::ios::trunc) << "not a picture";
  cv::imwrite(folder_ + "/03R.png", cv::Mat::zeros(240, 320, CV_8UC3));
  cv::imwrite(folder_ + "/05L.png", cv::Mat::zeros(480, 640, CV_8UC3));
  cv::imwrite(folder_ + "/05R.png", cv::Mat::zeros(480, 640, CV_8UC3));
  const auto names = ViewPairNames(folder_);
  EXPECT_EQ(names, (std::vector<std::string>{"01", "02", "03", "04", "05"}));
  log_.lines.clear();
  EXPECT_EQ(LoadViewPairs(second_, folder_, names), 2);
  const std::string all = [&] {
    std::string text;
    for (const auto& line : log_.lines) text += line + "\n";
    return text;
  }();
  EXPECT_NE(all.find("Load views: 02L.png can not be read"), std::string::npos) << all;
  EXPECT_NE(all.find("Load views: 03L.png and 03R.png differ in size"), std::string::npos) << all;
  EXPECT_NE(all.find("Load views: no whole board in pair 05"), std::string::npos) << all;

  std::string why;
  EXPECT_FALSE(ReadViewsSettings(folder_ + "/none", why));
  EXPECT_TRUE(ViewPairNames(folder_ + "/none").empty());
}

}  // namespace
namespace {

// Views of the moving board taken every `step` seconds, as an operator
// pushes them, by the corners where the left camera sees them.
class CoverageOfTheMovingBoard : public ::testing::TestWithParam<double> {};

TEST_P(CoverageOfTheMovingBoard, ReachesEveryMarkWithinTwentyViews) {
  const sim::SimConfig config = sim::ReadConfig([](const char*) -> const char* { return nullptr; });
  const StereoSimCameraModel camera = sim::ModelForImage(config.cameras[0], 640, 480);
  std::vector<TViewShape> shapes;
  for (int view = 0; view < TCalibrationFilter::MaxViews; ++view) {
    std::vector<cv::Point2f> corners;
    for (int r = 0; r < 6; ++r) {
      for (int c = 0; c < 8; ++c) {
        corners.emplace_back(sim::BoardPointInImage(sim::BoardPoseAt(view * GetParam()), camera,
                                                    config.square_mm,
                                                    {static_cast<double>(c), static_cast<double>(r)}));
      }
    }
    shapes.push_back(ShapeOfView(corners.data(), {8, 6}, {640, 480}));
  }
  const TViewCoverage coverage = CoverageOf(shapes);
  EXPECT_TRUE(coverage.Enough()) << CoverageLine(coverage);
}

INSTANTIATE_TEST_SUITE_P(PushEvery, CoverageOfTheMovingBoard, ::testing::Values(0.8, 1.5, 3.0));

}  // namespace
