#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <tuple>

#include "Video/vidclass/ipl.h"
#include "filters/vidfilters.h"
#include "filters/vidfilters_distort.h"
#include "tests/filters/filter_fakes.h"

namespace {

struct ImageDeleter {
  void operator()(IplImage* image) const { ReleaseImage(&image); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

// A frame with texture everywhere, so that any misplaced pixel shows.
Image NoiseImage(int width, int height, int channels, int seed) {
  Image image(CreateImage(CvSize{width, height}, channels, IPL_DEPTH_8U, true));
  cv::Mat view = cv::cvarrToMat(image.get());
  cv::RNG(seed).fill(view, cv::RNG::UNIFORM, 0, 256);
  return image;
}

cv::Mat View(const IplImage* image) { return cv::cvarrToMat(image); }
double MaxDifference(const IplImage* a, const IplImage* b) {
  return cv::norm(View(a), View(b), cv::NORM_INF);
}

class StereoFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { MainWindow = &main_window_; }
  void TearDown() override { MainWindow = nullptr; }
  void SetCurrent(const Image& left, const Image& right) {
    main_window_.current_left = left.get();
    main_window_.current_right = right.get();
  }
  static ImagePair Pair(const Image& left, const Image& right) {
    ImagePair pair;
    pair.Left() = left.get();
    pair.Right() = right.get();
    return pair;
  }
  FakeMainWindow main_window_;
};

TEST_F(StereoFilterTest, ColourToGreyConvertsColourAndPassesGreyAsItIs) {
  const Image colour = NoiseImage(32, 24, 3, 1), grey = NoiseImage(32, 24, 1, 2);
  SetCurrent(colour, colour);
  auto filter = TVidFilter::Create<TColToGrayFilter>();
  const ImagePair left_only = filter->ProcessPair(Pair(colour, Image()));
  ASSERT_EQ(left_only.Left(), filter->GreyLeft);
  EXPECT_EQ(left_only.Right(), nullptr);
  cv::Mat expected;
  cv::cvtColor(View(colour.get()), expected, cv::COLOR_BGR2GRAY);
  EXPECT_LE(cv::norm(expected, View(filter->GreyLeft), cv::NORM_INF), 1.0);
  // A grey frame, and a right frame of another size, never meet a buffer
  // of the wrong format.
  const Image small = NoiseImage(16, 8, 3, 3);
  const ImagePair mixed = filter->ProcessPair(Pair(grey, small));
  EXPECT_EQ(mixed.Left(), grey.get());
  EXPECT_EQ(mixed.Right()->width, 16);
  filter->SetEnabled(false);
  EXPECT_EQ(filter->ProcessPair(Pair(colour, colour)), Pair(colour, colour));
}

TEST_F(StereoFilterTest, DifferenceIsTakenBeforeTheNewReference) {
  const Image first = NoiseImage(32, 24, 3, 1), second = NoiseImage(32, 24, 3, 2);
  SetCurrent(first, first);
  auto filter = TVidFilter::Create<TDiffFilter>();
  // Black references: the output is the input.
  ImagePair output = filter->ProcessPair(Pair(first, first));
  EXPECT_EQ(MaxDifference(output.Left(), first.get()), 0);
  // The pair that becomes the reference is still shown against black.
  filter->ShowSetup();
  output = filter->ProcessPair(Pair(first, first));
  EXPECT_EQ(MaxDifference(output.Right(), first.get()), 0);
  output = filter->ProcessPair(Pair(first, first));
  EXPECT_EQ(cv::countNonZero(View(output.Left()).reshape(1)), 0);
  output = filter->ProcessPair(Pair(second, second));
  cv::Mat expected;
  cv::absdiff(View(second.get()), View(first.get()), expected);
  EXPECT_EQ(cv::norm(expected, View(output.Left()), cv::NORM_INF), 0);
  // A grey/colour change blackens the references again.
  const Image grey = NoiseImage(32, 24, 1, 4);
  output = filter->ProcessPair(Pair(grey, grey));
  EXPECT_EQ(MaxDifference(output.Left(), grey.get()), 0);
}

TEST_F(StereoFilterTest, SettersWriteBackAndScaleCoefficients) {
  auto filter = TVidFilter::Create<TDistortFilter>();
  auto* dialog = dynamic_cast<FakeDistortSetup*>(filter->Setup);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->mode, 0);
  EXPECT_EQ(dialog->Field(TDistortField::Lfx), 1.0);
  EXPECT_EQ(dialog->Field(TDistortField::F11), 1.0);
  filter->SetLeftK1(12.5f);
  EXPECT_FLOAT_EQ(filter->DistLeft[0], 0.00125f);
  EXPECT_EQ(dialog->Field(TDistortField::Lk1), 12.5);
  filter->SetRightCy(240.5f);
  EXPECT_EQ(filter->CameraRight(1, 2), 240.5f);
  filter->SetF(2, 0, 1e-4f);
  filter->RefreshSetup();
  EXPECT_EQ(filter->Warp(2, 0), 1e-4f);

  // "Get Parameter" before any calibration keeps the model; after one it
  // takes the left camera's result.
  filter->TakeCalibration();
  EXPECT_EQ(filter->CameraLeft(0, 0), 1.0f);
  ASSERT_FALSE(dialog->memo.empty());
  auto& left = filter->Calibration.Cameras[0];
  left.CameraMatrix = cv::Matx33d(500, 0, 320, 0, 490, 240, 0, 0, 1);
  left.Distortion = cv::Vec4d(-0.2, 0.05, 0.001, 0);
  filter->TakeCalibration();
  filter->RefreshSetup();
  EXPECT_NEAR(dialog->Field(TDistortField::Lk1), -2000.0, 1e-3);
  EXPECT_EQ(dialog->Field(TDistortField::Lcy), 240.0);
  EXPECT_EQ(dialog->Field(TDistortField::Rfx), 1.0);
}

TEST_F(StereoFilterTest, CachedUndistortionEqualsPerFrameUndistortion) {
  for (const auto& [width, height] : {std::pair{640, 480}, {1280, 1024}, {333, 97}}) {
    const Image frame = NoiseImage(width, height, 3, width);
    const cv::Matx33f camera(0.82f * width, 0, 0.51f * width, 0, 0.81f * width, 0.49f * height, 0, 0, 1);
    const cv::Vec4f distortion(-0.18f, 0.08f, 0.0008f, -0.0005f);
    cv::Mat expected, cached(height, width, CV_8UC3);
    cv::undistort(View(frame.get()), expected, camera, distortion);
    TUndistortCache cache;
    cache.Apply(View(frame.get()), cached, camera, distortion);
    EXPECT_EQ(cv::norm(expected, cached, cv::NORM_INF), 0) << width << "x" << height;
    cache.Apply(View(frame.get()), cached, camera, distortion);
    EXPECT_EQ(cache.Rebuilds(), 1);
    cache.Apply(View(frame.get()), cached, camera, cv::Vec4f(-0.1f, 0, 0, 0));
    EXPECT_EQ(cache.Rebuilds(), 2);
  }
}

TEST_F(StereoFilterTest, StartModelReproducesTheInputAndMapsShowIdentityRamps) {
  const Image left = NoiseImage(64, 48, 3, 1), right = NoiseImage(64, 48, 3, 2);
  SetCurrent(left, right);
  auto filter = TVidFilter::Create<TDistortFilter>();
  filter->SetMode(kCalibrateOnly);
  ImagePair output = filter->ProcessPair(Pair(left, right));
  EXPECT_EQ(MaxDifference(output.Left(), left.get()), 0);
  EXPECT_EQ(MaxDifference(output.Right(), right.get()), 0);
  filter->SetMode(kCalibrateAndRectify);
  output = filter->ProcessPair(Pair(left, right));
  EXPECT_EQ(MaxDifference(output.Right(), right.get()), 0);

  filter->SetMode(kShowDistortionMap);
  output = filter->ProcessPair(Pair(left, right));
  const cv::Mat shown = View(output.Left());
  EXPECT_EQ(shown.at<cv::Vec3b>(10, 32)[0], cv::saturate_cast<uint8_t>(32 * 255.0 / 64));
  EXPECT_EQ(shown.at<cv::Vec3b>(36, 5)[1], cv::saturate_cast<uint8_t>(36 * 255.0 / 48));
  // A grey/colour change keeps the maps; maps of a new size are black
  // until "Init".
  const Image grey = NoiseImage(64, 48, 1, 3), larger = NoiseImage(80, 60, 1, 4);
  SetCurrent(grey, grey);
  output = filter->ProcessPair(Pair(grey, grey));
  EXPECT_EQ(View(output.Left()).at<uint8_t>(10, 32), cv::saturate_cast<uint8_t>(32 * 255.0 / 64));
  output = filter->ProcessPair(Pair(larger, larger));
  EXPECT_EQ(cv::countNonZero(View(output.Left())), 0);
  filter->InitUndistortMaps();
  output = filter->ProcessPair(Pair(larger, larger));
  EXPECT_EQ(View(output.Right()).at<uint8_t>(0, 79), cv::saturate_cast<uint8_t>(79 * 255.0 / 80));
}

// Every mode on grey and colour frames, equal and unequal sizes, with the
// filter made before any frame or after: never a library error or a write
// outside a buffer (the sanitizer build sees those), and every side
// processed has its input's format.
class DistortModeMatrix : public StereoFilterTest,
                          public ::testing::WithParamInterface<std::tuple<int, int, bool, bool>> {};

TEST_P(DistortModeMatrix, EveryCombinationRunsCleanly) {
  const auto [mode, channels, unequal, made_before_frames] = GetParam();
  const Image left = NoiseImage(64, 48, channels, 1);
  const Image right =
      unequal ? NoiseImage(40, 30, channels == 1 ? 3 : 1, 2) : NoiseImage(64, 48, channels, 2);
  if (!made_before_frames) SetCurrent(left, right);
  auto filter = TVidFilter::Create<TDistortFilter>();
  SetCurrent(left, right);
  filter->SetMode(mode);
  filter->SetLeftK1(-1500);
  filter->SetRightK1(800);
  filter->SetF(0, 2, 3.5f);
  for (int frame = 0; frame < 2; ++frame) {
    ImagePair output;
    ASSERT_NO_THROW(output = filter->ProcessPair(Pair(left, right)));
    for (const auto& [in, out] : {std::pair{left.get(), output.Left()}, {right.get(), output.Right()}}) {
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(out->width, in->width);
      EXPECT_EQ(out->height, in->height);
      EXPECT_EQ(out->nChannels, in->nChannels);
      if (mode == kPassWithoutChange || mode > kSearchForCheckerboard) {
        EXPECT_EQ(out, in);
      }
    }
    filter->InitUndistortMaps();
  }
}

INSTANTIATE_TEST_SUITE_P(ModesFormatsSizes, DistortModeMatrix,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 4, 7), ::testing::Values(1, 3),
                                            ::testing::Bool(), ::testing::Bool()));

TEST_F(StereoFilterTest, SaveWithoutStereoCalibrateWritesNoRectificationAndLoadPutsNoneInForce) {
  const Image left = NoiseImage(64, 48, 1, 1), right = NoiseImage(64, 48, 1, 2);
  SetCurrent(left, right);
  auto filter = TVidFilter::Create<TDistortFilter>();
  filter->SetLeftFx(500);
  filter->SetLeftCx(32);
  const std::string path = ::testing::TempDir() + "models_only_" + std::to_string(::getpid()) + ".yml";
  ASSERT_TRUE(filter->SaveCalibration(path));
  {
    cv::FileStorage file(path, cv::FileStorage::READ);
    EXPECT_FALSE(file["K1"].empty());
    for (const char* key : {"R", "T", "R1", "R2", "P1", "P2", "Q"}) EXPECT_TRUE(file[key].empty()) << key;
  }
  filter->SetLeftFx(1);
  ASSERT_TRUE(filter->LoadCalibration(path));
  EXPECT_EQ(filter->CameraLeft(0, 0), 500.0f);
  EXPECT_FALSE(filter->StereoResult);
  filter->SetMode(kRectifyBoth);
  const ImagePair output = filter->ProcessPair(Pair(left, right));
  EXPECT_EQ(output.Left(), left.get());
  EXPECT_EQ(output.Right(), right.get());
  std::remove(path.c_str());
}

}  // namespace
