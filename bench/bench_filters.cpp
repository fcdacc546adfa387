// Cost of the distortion filter's per-frame work: undistortion worked out
// anew for every frame beside the cached mapping, the right image's
// rectification (undistortion and warp), and the chessboard search of one
// pair with and without a board in view.

#include <benchmark/benchmark.h>
#include <opencv2/core/core_c.h>

#include <array>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "Video/vidclass/ipl.h"
#include "drivers/board_scene.h"
#include "drivers/frame_renderer.h"
#include "filters/stereo_calibration.h"
#include "filters/ucalibfilter.h"
#include "filters/undistort_cache.h"
#include "filters/vidfilters_distort.h"

namespace {

// The simulated rig's left lens at that image size.
cv::Matx33f Camera(int width, int height) {
  const float scale = width / 1280.0f;
  return {1052.0f * scale,
          0,
          652.4f * scale,
          0,
          1047.5f * scale,
          507.8f * scale - (1024 * scale - height) / 2,
          0,
          0,
          1};
}
const cv::Vec4f kDistortion(-0.18f, 0.08f, 0.0008f, -0.0005f);

cv::Mat NoisyFrame(int width, int height) {
  cv::Mat frame(height, width, CV_8UC3);
  cv::randn(frame, cv::Scalar::all(80), cv::Scalar::all(2));
  return frame;
}

// A 9 x 7 board with a white margin, tilted in front of the camera.
cv::Mat BoardFrame() {
  constexpr int kSquare = 24;
  cv::Mat board(9 * kSquare, 11 * kSquare, CV_8UC3, cv::Scalar::all(230));
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 9; ++x) {
      if ((x + y) % 2 == 0) {
        cv::rectangle(board, cv::Rect((x + 1) * kSquare, (y + 1) * kSquare, kSquare, kSquare),
                      cv::Scalar::all(20), cv::FILLED);
      }
    }
  }
  cv::Mat frame = NoisyFrame(640, 480);
  const std::vector<cv::Point2f> from{{0, 0}, {264, 0}, {264, 216}, {0, 216}};
  const std::vector<cv::Point2f> to{{190, 130}, {450, 150}, {440, 360}, {200, 345}};
  cv::warpPerspective(board, frame, cv::getPerspectiveTransform(from, to), frame.size(), cv::INTER_LINEAR,
                      cv::BORDER_TRANSPARENT);
  cv::GaussianBlur(frame, frame, {3, 3}, 0.7);
  return frame;
}

void UndistortPerFrame(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const cv::Mat frame = NoisyFrame(width, height);
  cv::Mat result(frame.size(), frame.type());
  for (auto _ : state) cv::undistort(frame, result, Camera(width, height), kDistortion);
}

void UndistortCached(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const cv::Mat frame = NoisyFrame(width, height);
  cv::Mat result(frame.size(), frame.type());
  TUndistortCache cache;
  for (auto _ : state) cache.Apply(frame, result, Camera(width, height), kDistortion);
}

void RectifyRight(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  IplImage* right = CreateImage(CvSize{width, height}, 3, IPL_DEPTH_8U, true);
  cv::Mat view = cv::cvarrToMat(right);
  NoisyFrame(width, height).copyTo(view);
  auto filter = TVidFilter::Create<TDistortFilter>();
  const cv::Matx33f camera = Camera(width, height);
  filter->SetRightFx(camera(0, 0));
  filter->SetRightFy(camera(1, 1));
  filter->SetRightCx(camera(0, 2));
  filter->SetRightCy(camera(1, 2));
  filter->SetRightK1(kDistortion[0] * 10000);
  filter->SetF(0, 2, 3.5f);
  filter->SetF(2, 0, 1e-5f);
  filter->SetMode(kCalibrateAndRectify);
  ImagePair pair;
  pair.Right() = right;
  for (auto _ : state) benchmark::DoNotOptimize(filter->ProcessPair(pair));
  filter.reset();
  ReleaseImage(&right);
}

// One pair searched as mode 4 does: both frames, corners drawn when found.
void SearchPair(benchmark::State& state, const cv::Mat& frame) {
  IplImage* images[2] = {CreateImage(CvSize{640, 480}, 3, IPL_DEPTH_8U, true),
                         CreateImage(CvSize{640, 480}, 3, IPL_DEPTH_8U, true)};
  TCalibrationFilter calibration;
  calibration.SetCameraCount(2);
  int found = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (IplImage* image : images) {
      cv::Mat view = cv::cvarrToMat(image);
      frame.copyTo(view);
    }
    state.ResumeTiming();
    calibration.FindCorners({images[0], images[1]});
    found += calibration.Cameras[0].Found && calibration.Cameras[1].Found;
  }
  state.counters["pairs_found"] = benchmark::Counter(found, benchmark::Counter::kAvgIterations);
  for (IplImage*& image : images) ReleaseImage(&image);
}

void BoardSearchAbsent(benchmark::State& state) { SearchPair(state, NoisyFrame(640, 480)); }
void BoardSearchPresent(benchmark::State& state) { SearchPair(state, BoardFrame()); }

// The search without its quick check, as a yardstick.
void BoardSearchAbsentFullSearch(benchmark::State& state) {
  const cv::Mat frame = NoisyFrame(640, 480);
  std::vector<cv::Point2f> corners;
  for (auto _ : state) {
    for (int camera = 0; camera < 2; ++camera) {
      benchmark::DoNotOptimize(
          cv::findChessboardCorners(frame, {8, 6}, corners, cv::CALIB_CB_ADAPTIVE_THRESH));
    }
  }
}

// Twenty views of the board as the rig's cameras see it, pushed as the
// dialog's "Push" does.
void CollectViews(TCalibrationFilter& calibration) {
  std::vector<cv::Point3f> board;
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 8; ++c) board.emplace_back(c - 3.5f, r - 2.5f, 0.0f);
  }
  const cv::Matx33d camera(Camera(640, 480));
  for (int view = 0; view < TCalibrationFilter::MaxViews; ++view) {
    const cv::Vec3d turn(0.3 * std::sin(view * 1.3), 0.35 * std::cos(view * 0.7), 0.2 * std::sin(view * 2.1));
    const cv::Vec3d at(1.5 * std::sin(view * 0.9), std::cos(view * 1.7), 24.0 + 5.0 * std::sin(view * 0.5));
    for (int side = 0; side < 2; ++side) {
      auto& corners = calibration.Cameras[side].Corners;
      cv::projectPoints(board, turn, at + cv::Vec3d(side * -4.8, 0, 0), camera, cv::Vec4d(kDistortion),
                        corners);
      calibration.Cameras[side].CornerCount = 48;
      calibration.Cameras[side].Found = true;
      calibration.Cameras[side].FoundFrame = cv::Mat::zeros(480, 640, CV_8UC1);
    }
    calibration.PushView();
  }
}

void CalibrateTwentyViews(benchmark::State& state) {
  TCalibrationFilter calibration;
  calibration.SetCameraCount(2);
  CollectViews(calibration);
  const bool stereo = state.range(0) != 0;
  for (auto _ : state) {
    calibration.CalibrateCameras();
    if (stereo) {
      std::string why;
      benchmark::DoNotOptimize(CalibrateStereo(calibration, why));
    }
  }
}

// Pairs of the harsh rig (uneven light, blur, a grey-on-grey board) at
// poses where the whole board is in view of both cameras; the share found.
void BoardSearchHarsh(benchmark::State& state) {
  sim::SimConfig config = sim::ReadConfig([](const char*) -> const char* { return nullptr; });
  config.imaging = sim::HarshImaging();
  std::vector<std::array<cv::Mat, 2>> pairs;
  sim::FrameRenderer renderers[2] = {{config, 1}, {config, 2}};
  for (double t = 0; pairs.size() < 40; t += 0.77) {
    std::array<cv::Mat, 2> pair;
    bool whole = true;
    for (int side = 0; side < 2; ++side) {
      sim::FrameRequest request;
      request.camera = sim::ModelForImage(config.cameras[side], 640, 480);
      whole = whole && sim::BoardWhollyInView(sim::BoardPoseAt(t), request.camera, config.square_mm);
      pair[side].create(480, 640, CV_8UC3);
      request.pixels = pair[side].data;
      request.pitch = static_cast<int32_t>(pair[side].step);
      request.width = 640;
      request.height = 480;
      request.scene_time_s = t;
      renderers[side].Render(request);
    }
    if (whole) pairs.push_back(pair);
  }
  TCalibrationFilter calibration;
  calibration.SetCameraCount(2);
  int found = 0, searched = 0;
  for (auto _ : state) {
    std::vector<cv::Mat> frames{pairs[searched % pairs.size()][0].clone(),
                                pairs[searched % pairs.size()][1].clone()};
    calibration.FindCorners(frames);
    found += calibration.Cameras[0].Found && calibration.Cameras[1].Found;
    ++searched;
  }
  state.counters["share_found"] = static_cast<double>(found) / std::max(searched, 1);
}

}  // namespace

BENCHMARK(CalibrateTwentyViews)->Name("Calibrate/20Views/640/480")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(CalibrateTwentyViews)
    ->Name("StereoCalibrate/20Views/640/480")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(UndistortPerFrame)
    ->Name("Undistort/PerFrame")
    ->Args({640, 480})
    ->Args({1280, 1024})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(UndistortCached)
    ->Name("Undistort/Cached")
    ->Args({640, 480})
    ->Args({1280, 1024})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RectifyRight)
    ->Name("RectifyRight")
    ->Args({640, 480})
    ->Args({1280, 1024})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BoardSearchAbsent)->Name("BoardSearch/Absent")->Unit(benchmark::kMillisecond);
BENCHMARK(BoardSearchPresent)->Name("BoardSearch/Present")->Unit(benchmark::kMillisecond);
BENCHMARK(BoardSearchHarsh)->Name("BoardSearch/Harsh")->Unit(benchmark::kMillisecond);
BENCHMARK(BoardSearchAbsentFullSearch)
    ->Name("BoardSearch/AbsentWithoutQuickCheck")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
