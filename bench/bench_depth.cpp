// Cost of depth from a pair: both images rectified, and a disparity map made
// by the filter's own matcher thread (submitted and waited for) beside the
// library's own call on the same rectified pair; each step after matching on
// its own, on the plain map of that pair.

#include <benchmark/benchmark.h>
#include <opencv2/core/core_c.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "Video/vidclass/ipl.h"
#include "depth/disparity_post.h"
#include "filters/disparity_filter.h"
#include "filters/stereo_rectifier.h"

namespace {

// A textured scene whose disparity grows from 8 px on the left to 56 px on
// the right: the right image shows each point that much further left.
struct Pair {
  cv::Mat left, right;
};

Pair SlantedScene(int width, int height) {
  cv::Mat texture(height, width + 64, CV_8U);
  cv::RNG(7).fill(texture, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(texture, texture, {0, 0}, 1.2);
  Pair pair;
  pair.left = texture.colRange(0, width).clone();
  cv::Mat map_x(height, width, CV_32F), map_y(height, width, CV_32F);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      map_x.at<float>(y, x) = static_cast<float>(x + 8 + 48.0 * x / width);
      map_y.at<float>(y, x) = static_cast<float>(y);
    }
  }
  cv::remap(texture, pair.right, map_x, map_y, cv::INTER_LINEAR);
  return pair;
}

TStereoCalibration RigCalibration(cv::Size size) {
  TStereoCalibration c;
  c.ImageSize = size;
  const double f = 526.0 * size.width / 640;
  c.K1 = cv::Matx33d(f, 0, size.width / 2.0, 0, f, size.height / 2.0, 0, 0, 1);
  c.K2 = c.K1;
  c.D1 = cv::Vec4d(-0.18, 0.08, 0.0008, -0.0005);
  c.D2 = cv::Vec4d(-0.15, 0.05, -0.0006, 0.0004);
  cv::Rodrigues(cv::Vec3d(0.004, 0.030, -0.002), c.R);
  c.T = cv::Vec3d(-120.0, -0.8, 1.5);
  cv::stereoRectify(c.K1, c.D1, c.K2, c.D2, size, c.R, c.T, c.R1, c.R2, c.P1, c.P2, c.Q);
  return c;
}

void RectifyBoth(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  cv::Mat left(size, CV_8UC3), right(size, CV_8UC3), out_left, out_right;
  cv::randu(left, 0, 255);
  cv::randu(right, 0, 255);
  const TStereoCalibration calibration = RigCalibration(size);
  TStereoRectifier rectifier;
  std::string why;
  for (auto _ : state) rectifier.Rectify(calibration, left, right, out_left, out_right, why);
  state.counters["map_builds"] = rectifier.Rebuilds();
}

TDisparitySettings Settings(TMatcherKind kind, int disparities) {
  TDisparitySettings settings;
  settings.Matcher = kind;
  settings.NumDisparities = disparities;
  return settings;
}

struct ImageDeleter {
  void operator()(IplImage* image) const { ReleaseImage(&image); }
};

IplImage* ImageOf(const cv::Mat& content) {
  IplImage* image = CreateImage(CvSize{content.cols, content.rows}, 1, IPL_DEPTH_8U, true);
  cv::Mat view = cv::cvarrToMat(image);
  content.copyTo(view);
  return image;
}

// One map through the filter: the pair handed over, the map waited for.
void DisparityThroughFilter(benchmark::State& state, TMatcherKind kind) {
  const Pair scene = SlantedScene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const std::unique_ptr<IplImage, ImageDeleter> left(ImageOf(scene.left)), right(ImageOf(scene.right));
  auto filter = TVidFilter::Create<TDisparityFilter>();
  filter->SetSettings(Settings(kind, static_cast<int>(state.range(2))));
  ImagePair pair;
  pair.Left() = left.get();
  pair.Right() = right.get();
  for (auto _ : state) {
    filter->ProcessPair(pair);
    filter->WaitForMatcher(std::chrono::seconds(60));
  }
  if (const auto map = filter->ShownMap()) state.counters["valid_share"] = map->ValidShare;
}

void DisparityDirect(benchmark::State& state) {
  const Pair scene = SlantedScene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const TDisparitySettings s = Settings(TMatcherKind::SemiGlobal, static_cast<int>(state.range(2)));
  auto matcher = cv::StereoSGBM::create(s.MinDisparity, s.NumDisparities, s.BlockSize, SmallPenalty(s),
                                        LargePenalty(s), 1, 0, s.UniquenessRatio, s.SpeckleWindowSize,
                                        s.SpeckleRange, cv::StereoSGBM::MODE_SGBM);
  cv::Mat disparity;
  for (auto _ : state) matcher->compute(scene.left, scene.right, disparity);
}

// One step after matching (or all of them), on a copy of the plain map.
void DisparityPost(benchmark::State& state, TDisparityPostSettings post) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const Pair scene = SlantedScene(size.width, size.height);
  TDisparitySettings settings = Settings(TMatcherKind::SemiGlobal, static_cast<int>(state.range(2)));
  settings.Post = post;
  cv::Mat plain, map, filled;
  TDisparityMatcher().Compute(settings, scene.left, scene.right, plain);
  TStereoCalibration calibration = RigCalibration(size);
  calibration.SquareSize_mm = 25;
  TDisparityPost steps;
  std::vector<TPostStageTime> times;
  std::string note;
  for (auto _ : state) {
    plain.copyTo(map);
    times.clear();
    steps.Apply(settings, scene.left, scene.right, scene.left, &calibration, map, filled, times, note);
  }
  state.counters["valid_share"] = ValidShare(map, settings);
}

TDisparityPostSettings Only(bool TDisparityPostSettings::*step) {
  TDisparityPostSettings post;
  post.*step = true;
  return post;
}

const bool registered = [] {
  benchmark::RegisterBenchmark("RectifyBoth", RectifyBoth)->Args({640, 480})->Unit(benchmark::kMillisecond);
  for (const auto& [name, kind] : {std::pair{"Disparity/BM", TMatcherKind::BlockMatching},
                                   std::pair{"Disparity/SGBM", TMatcherKind::SemiGlobal},
                                   std::pair{"Disparity/SGBM3Way", TMatcherKind::SemiGlobal3Way}}) {
    benchmark::RegisterBenchmark(name, DisparityThroughFilter, kind)
        ->Args({640, 480, 64})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("DisparityDirect/SGBM", DisparityDirect)
      ->Args({640, 480, 64})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  TDisparityPostSettings all;
  all.LeftRightCheck = all.TextureCheck = all.Temporal = all.Fill = all.Range = true;
  for (const auto& [name, post] :
       {std::pair{"DisparityPost/LeftRightCheck", Only(&TDisparityPostSettings::LeftRightCheck)},
        std::pair{"DisparityPost/TextureThreshold", Only(&TDisparityPostSettings::TextureCheck)},
        std::pair{"DisparityPost/Temporal", Only(&TDisparityPostSettings::Temporal)},
        std::pair{"DisparityPost/Fill", Only(&TDisparityPostSettings::Fill)},
        std::pair{"DisparityPost/Range", Only(&TDisparityPostSettings::Range)},
        std::pair{"DisparityPost/All", all}}) {
    benchmark::RegisterBenchmark(name, DisparityPost, post)
        ->Args({640, 480, 64})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
