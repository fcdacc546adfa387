#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <regex>
#include <string>
#include <vector>

#include "Video/vidclass/ipl.h"
#include "filters/board_outline.h"
#include "filters/stereo_calibration.h"
#include "filters/ucalibfilter.h"
#include "tests/filters/filter_fakes.h"

namespace {

struct Lens {
  cv::Matx33d camera;
  cv::Vec4d distortion;
};
const Lens kLeft{{500, 0, 322, 0, 490, 238, 0, 0, 1}, {-0.2, 0.05, 0.001, -0.0005}};
const Lens kRight{{480, 0, 310, 0, 475, 250, 0, 0, 1}, {-0.12, 0.02, 0, 0}};

// The board's inner corners as a search reports them, row by row, seen by
// the left camera in pose `view` and by the right one 6 squares to its right.
std::vector<cv::Point2f> Corners(const Lens& lens, int view, bool right) {
  std::vector<cv::Point3f> board;
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 8; ++c) board.emplace_back(c - 3.5f, r - 2.5f, 0.0f);
  const cv::Vec3d rotation(0.3 * std::sin(view * 1.3), 0.35 * std::cos(view * 0.7),
                           0.2 * std::sin(view * 2.1));
  cv::Matx33d turn;
  cv::Rodrigues(rotation, turn);
  const cv::Vec3d at(1.5 * std::sin(view * 0.9), 1.0 * std::cos(view * 1.7),
                     14.0 + 3.0 * std::sin(view * 0.5));
  cv::Mat stereo_rotation = cv::Mat(cv::Vec3d(0.0, right ? 0.03 : 0.0, 0.0));
  cv::Matx33d to_right;
  cv::Rodrigues(stereo_rotation, to_right);
  const cv::Matx33d rotation_total = to_right * turn;
  const cv::Vec3d translation = to_right * at + cv::Vec3d(right ? -6.0 : 0.0, 0, 0);
  std::vector<cv::Point2f> image;
  cv::Mat rvec;
  cv::Rodrigues(rotation_total, rvec);
  cv::projectPoints(board, rvec, translation, lens.camera, lens.distortion, image);
  return image;
}

class CalibrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calibration_.SetCameraCount(2);
    calibration_.LogMemo = &memo_;
    for (int i = 0; i < 2; ++i) calibration_.SetImage(i, frames_[i]);
  }
  void TearDown() override {
    for (IplImage*& frame : frames_) ReleaseImage(&frame);
  }
  // A search that found these corners, then "Push".
  void Push(const std::vector<cv::Point2f>& left, const std::vector<cv::Point2f>& right) {
    for (auto [camera, corners] :
         {std::pair{&calibration_.Cameras[0], &left}, {&calibration_.Cameras[1], &right}}) {
      camera->Corners = *corners;
      camera->CornerCount = static_cast<int>(corners->size());
    }
    calibration_.PushView();
  }
  void PushViews(int views) {
    for (int view = 0; view < views; ++view) Push(Corners(kLeft, view, false), Corners(kRight, view, true));
  }
  std::string LastLine() const { return memo_.memo.empty() ? "" : memo_.memo.back(); }

  IplImage* frames_[2] = {CreateImage(CvSize{640, 480}, 1, IPL_DEPTH_8U, true),
                          CreateImage(CvSize{640, 480}, 1, IPL_DEPTH_8U, true)};
  TCalibrationFilter calibration_;
  FakeDistortSetup memo_;
};

TEST_F(CalibrationTest, OnlyWholeBoardsInBothImagesArePushedAndTheStoreHoldsTwenty) {
  const auto whole = Corners(kLeft, 0, false);
  const std::vector<cv::Point2f> partial(whole.begin(), whole.begin() + 30);
  calibration_.PushView();
  EXPECT_EQ(LastLine(), "Images: 0 0");
  Push(whole, partial);
  Push(partial, whole);
  EXPECT_EQ(LastLine(), "Images: 0 0");
  Push(whole, whole);
  EXPECT_EQ(LastLine(), "Images: 1 1");
  PushViews(25);
  EXPECT_EQ(LastLine(), "Images: 20 20");
  EXPECT_EQ(calibration_.Cameras[1].ViewCount, 20);
}

TEST_F(CalibrationTest, CalibrationWithoutViewsSaysSoAndChangesNothing) {
  calibration_.CalibrateCameras();
  ASSERT_EQ(memo_.memo.size(), 1u);
  EXPECT_EQ(calibration_.Cameras[0].CameraMatrix, cv::Matx33d::zeros());
  calibration_.FindFundamental();
  EXPECT_EQ(LastLine(), "Stereo: 0 views collected, 8 needed");
  std::string why;
  EXPECT_FALSE(CalibrateStereo(calibration_, why));
  EXPECT_EQ(why, "Stereo Calibrate: 0 views collected, 8 needed");
  PushViews(9);
  EXPECT_FALSE(CalibrateStereo(calibration_, why));
  EXPECT_EQ(why, "Stereo Calibrate: press \"Calibrate\" first");
}

TEST_F(CalibrationTest, EachCameraIsCalibratedAndReportedWithItsOwnResults) {
  PushViews(12);
  calibration_.CalibrateCameras();
  ASSERT_EQ(memo_.memo.size(), 16u);
  for (int i = 0; i < 2; ++i) {
    const Lens& truth = i == 0 ? kLeft : kRight;
    const TCalibrationFilter::Camera& camera = calibration_.Cameras[i];
    for (const auto& [row, column] : {std::pair{0, 0}, {0, 2}, {1, 1}, {1, 2}}) {
      EXPECT_NEAR(camera.CameraMatrix(row, column), truth.camera(row, column), 0.5) << i;
    }
    EXPECT_NEAR(camera.Distortion[0], truth.distortion[0], 0.005) << i;
    const char* side = i == 0 ? "Left" : "Right";
    EXPECT_EQ(memo_.memo[12 + 2 * i],
              FormatLine("%s  k1 %1.4f k2 %1.4f p1 %1.4f p2 %1.4f", side, camera.Distortion[0],
                         camera.Distortion[1], camera.Distortion[2], camera.Distortion[3]));
    EXPECT_TRUE(std::regex_match(
        memo_.memo[13 + 2 * i],
        std::regex(std::string(side) + R"( 0 \d+\.\d{4} 2 \d+\.\d{4} 4 \d+\.\d{4} 5 \d+\.\d{4})")))
        << memo_.memo[13 + 2 * i];
  }
}

TEST_F(CalibrationTest, FundamentalMatrixFromTheCollectedViewsOnly) {
  PushViews(5);
  calibration_.FindFundamental();
  EXPECT_EQ(LastLine(), "Stereo: 5 views collected, 8 needed");
  PushViews(5);
  calibration_.FindFundamental();
  ASSERT_GE(memo_.memo.size(), 4u);
  EXPECT_EQ(memo_.memo[memo_.memo.size() - 4], "FindFundmat 1");
  EXPECT_EQ(LastLine().rfind("Fundmat 3  k1 ", 0), 0u);
  // Matches of a pose never pushed lie near each other's epipolar lines.
  const cv::Matx33d f = calibration_.Fundamental;
  const auto left = Corners(kLeft, 17, false);
  const auto right = Corners(kRight, 17, true);
  for (size_t k = 0; k < left.size(); k += 7) {
    const cv::Vec3d line = f * cv::Vec3d(left[k].x, left[k].y, 1.0);
    const double distance =
        std::abs(line.dot(cv::Vec3d(right[k].x, right[k].y, 1.0))) / std::hypot(line[0], line[1]);
    EXPECT_LT(distance, 3.0) << k;
  }
}

}  // namespace

namespace {

// A 9 x 7 board (8 x 6 inner corners) with a white margin, seen in
// perspective, and where its inner corners lie.
struct DrawnBoard {
  cv::Mat image;
  std::vector<cv::Point2f> corners;  // 8 x 6, row by row
};

DrawnBoard DrawBoard() {
  constexpr int kSquare = 24;
  cv::Mat flat(9 * kSquare, 11 * kSquare, CV_8UC3, cv::Scalar::all(230));
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 9; ++x) {
      if ((x + y) % 2 == 0) {
        cv::rectangle(flat, cv::Rect((x + 1) * kSquare, (y + 1) * kSquare, kSquare, kSquare),
                      cv::Scalar::all(20), cv::FILLED);
      }
    }
  }
  const std::vector<cv::Point2f> from{{0, 0}, {264, 0}, {264, 216}, {0, 216}};
  const std::vector<cv::Point2f> to{{150, 110}, {470, 135}, {455, 380}, {165, 360}};
  const cv::Mat warp = cv::getPerspectiveTransform(from, to);
  DrawnBoard board{cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(80)), {}};
  cv::warpPerspective(flat, board.image, warp, board.image.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
  std::vector<cv::Point2f> flat_corners;
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 8; ++c) flat_corners.emplace_back((c + 2) * kSquare, (r + 2) * kSquare);
  cv::perspectiveTransform(flat_corners, board.corners, warp);
  return board;
}

struct Part {
  int first_column, first_row, columns, rows;
  bool larger;
};

class BoardOutline : public ::testing::TestWithParam<Part> {};

TEST_P(BoardOutline, AGridThatIsPartOfTheBoardIsToldApart) {
  static const DrawnBoard board = DrawBoard();
  const Part part = GetParam();
  std::vector<cv::Point2f> grid;
  for (int r = part.first_row; r < part.first_row + part.rows; ++r)
    for (int c = part.first_column; c < part.first_column + part.columns; ++c)
      grid.push_back(board.corners[r * 8 + c]);
  EXPECT_EQ(BoardExtendsBeyond(board.image, grid, {part.columns, part.rows}), part.larger);
}

INSTANTIATE_TEST_SUITE_P(Parts, BoardOutline,
                         ::testing::Values(Part{0, 0, 8, 6, false}, Part{0, 0, 7, 6, true},
                                           Part{1, 0, 7, 6, true}, Part{0, 1, 8, 5, true},
                                           Part{1, 1, 6, 4, true}));

TEST_F(CalibrationTest, APartOfALargerBoardIsNotPushed) {
  calibration_.Cameras[1].PartOfLargerBoard = true;
  const auto whole = Corners(kLeft, 0, false);
  for (auto& camera : calibration_.Cameras) {
    camera.Corners = whole;
    camera.CornerCount = 48;
  }
  calibration_.PushView();
  ASSERT_EQ(memo_.memo.size(), 2u);
  EXPECT_EQ(memo_.memo[0], "Push: the board has more corners than 8 x 6; set its size");
  EXPECT_EQ(LastLine(), "Images: 0 0");
}

}  // namespace
