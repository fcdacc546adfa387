#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <unistd.h>

#include <filesystem>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <regex>
#include <string>
#include <vector>

#include "Video/vidclass/ipl.h"
#include "filters/board_outline.h"
#include "filters/saved_views.h"
#include "filters/stereo_calibration.h"
#include "filters/ucalibfilter.h"
#include "tests/filters/drawn_board.h"
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
  }
  // A search that found these corners, then "Push".
  void Push(const std::vector<cv::Point2f>& left, const std::vector<cv::Point2f>& right) {
    for (auto [camera, corners] :
         {std::pair{&calibration_.Cameras[0], &left}, {&calibration_.Cameras[1], &right}}) {
      camera->Corners = *corners;
      camera->CornerCount = static_cast<int>(corners->size());
      camera->Found = corners->size() == 48;
      camera->FoundFrame = frame_;
    }
    calibration_.PushView();
  }
  void PushViews(int views) {
    for (int view = 0; view < views; ++view) Push(Corners(kLeft, view, false), Corners(kRight, view, true));
  }
  std::string LastLine() const { return memo_.memo.empty() ? "" : memo_.memo.back(); }

  const cv::Mat frame_ = cv::Mat::zeros(480, 640, CV_8UC1);
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
  // Coverage, two lines a camera, one a view.
  ASSERT_EQ(memo_.memo.size(), 12u + 1 + 4 + 12);
  for (int i = 0; i < 2; ++i) {
    const Lens& truth = i == 0 ? kLeft : kRight;
    const TCalibrationFilter::Camera& camera = calibration_.Cameras[i];
    for (const auto& [row, column] : {std::pair{0, 0}, {0, 2}, {1, 1}, {1, 2}}) {
      EXPECT_NEAR(camera.CameraMatrix(row, column), truth.camera(row, column), 0.5) << i;
    }
    EXPECT_NEAR(camera.Distortion[0], truth.distortion[0], 0.005) << i;
    const char* side = i == 0 ? "Left" : "Right";
    EXPECT_EQ(memo_.memo[13 + 2 * i],
              FormatLine("%s  k1 %1.4f k2 %1.4f p1 %1.4f p2 %1.4f", side, camera.Distortion[0],
                         camera.Distortion[1], camera.Distortion[2], camera.Distortion[3]));
    EXPECT_TRUE(std::regex_match(
        memo_.memo[14 + 2 * i],
        std::regex(std::string(side) + R"( 0 \d+\.\d{4} 2 \d+\.\d{4} 4 \d+\.\d{4} 5 \d+\.\d{4})")))
        << memo_.memo[14 + 2 * i];
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
    camera.Found = true;
  }
  calibration_.PushView();
  ASSERT_EQ(memo_.memo.size(), 2u);
  EXPECT_EQ(memo_.memo[0], "Push: the board has more corners than 8 x 6; set its size");
  EXPECT_EQ(LastLine(), "Images: 0 0");
}

}  // namespace

namespace {

// Searches of the drawn board through the calibration's own search.
class CalibrationSearchTest : public CalibrationTest {
 protected:
  // A fresh frame of the board, or none.
  static IplImage* BoardFrame() {
    static const DrawnBoard board = DrawBoard();
    IplImage* frame = CreateImage(CvSize{640, 480}, 3, IPL_DEPTH_8U, true);
    cv::Mat view = cv::cvarrToMat(frame);
    board.image.copyTo(view);
    return frame;
  }
  void Search(bool left, bool right) {
    IplImage* frames[2] = {left ? BoardFrame() : nullptr, right ? BoardFrame() : nullptr};
    calibration_.FindCorners({frames[0], frames[1]});
    // The frames go, as a source set up again frees its images.
    for (IplImage*& frame : frames) ReleaseImage(&frame);
  }
};

TEST_F(CalibrationSearchTest, ViewsKeepTheirImageSizeAfterTheFramesAreGone) {
  for (int view = 0; view < 12; ++view) {
    Search(true, true);
    ASSERT_TRUE(calibration_.Cameras[0].Found);
    // Corners of varied poses, so that a calibration is possible.
    calibration_.Cameras[0].Corners = Corners(kLeft, view, false);
    calibration_.Cameras[1].Corners = Corners(kRight, view, true);
    calibration_.PushView();
  }
  calibration_.CalibrateCameras();
  for (const auto& camera : calibration_.Cameras) {
    EXPECT_TRUE(camera.Calibrated());
    EXPECT_EQ(camera.ImageSize, cv::Size(640, 480));
  }
}

TEST_F(CalibrationSearchTest, AOneSidedPairNeverJoinsTheOtherSidesOldResult) {
  Search(true, true);
  ASSERT_EQ(calibration_.Cameras[1].CornerCount, 48);
  Search(true, false);
  calibration_.PushView();
  EXPECT_EQ(LastLine(), "Images: 0 0");
  Search(true, true);
  calibration_.PushView();
  EXPECT_EQ(LastLine(), "Images: 1 1");
}

// The drawn board with a part of it spoilt, as a hand or the frame's edge
// hides it.
struct SpoiltBoard {
  const char* name;
  cv::Rect (*covered)(const DrawnBoard& board);  // painted grey
  int shift_px;                                  // the board moved left, partly out of the frame
};

class RejectedSearch : public CalibrationSearchTest, public ::testing::WithParamInterface<SpoiltBoard> {};

TEST_P(RejectedSearch, NeverReportsAWholeBoardAndPushesNothing) {
  const SpoiltBoard spoilt = GetParam();
  const DrawnBoard board = DrawBoard();
  cv::Mat image(board.image.size(), board.image.type(), cv::Scalar::all(80));
  board.image.colRange(spoilt.shift_px, image.cols).copyTo(image.colRange(0, image.cols - spoilt.shift_px));
  cv::rectangle(image, spoilt.covered(board), cv::Scalar::all(128), cv::FILLED);
  std::vector<cv::Mat> frames{image, image.clone()};
  calibration_.FindCorners(frames);
  for (const auto& camera : calibration_.Cameras) {
    EXPECT_FALSE(camera.Found);
    EXPECT_LT(camera.CornerCount, 48);
  }
  calibration_.PushView();
  EXPECT_EQ(LastLine(), "Images: 0 0");
}

cv::Rect Around(const std::vector<cv::Point2f>& corners, int margin_px) {
  const cv::Rect box = cv::boundingRect(corners);
  return {box.x - margin_px, box.y - margin_px, box.width + 2 * margin_px, box.height + 2 * margin_px};
}

INSTANTIATE_TEST_SUITE_P(
    Spoilt, RejectedSearch,
    ::testing::Values(SpoiltBoard{"CornerCovered",
                                  [](const DrawnBoard& b) { return Around({b.corners[0]}, 24); }, 0},
                      SpoiltBoard{"LastRowCovered",
                                  [](const DrawnBoard& b) {
                                    return Around({b.corners.begin() + 40, b.corners.end()}, 10);
                                  },
                                  0},
                      SpoiltBoard{"HalfOutOfFrame", [](const DrawnBoard&) { return cv::Rect(); }, 330},
                      SpoiltBoard{"Blank", [](const DrawnBoard&) { return cv::Rect(0, 0, 640, 480); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CalibrationSearchTest, SaveViewsAfterDropWorstViewLeavesOnlyTheViewsHeld) {
  for (int pose = 0; pose < 6; ++pose) {
    std::vector<cv::Mat> pair{DrawBoardInPose(pose).image, DrawBoardInPose(pose + 7).image};
    calibration_.FindCorners(pair);
    calibration_.PushView();
  }
  ASSERT_EQ(calibration_.Cameras[0].ViewCount, 6);
  const std::string folder = ::testing::TempDir() + "dropped_views_" + std::to_string(::getpid());
  std::filesystem::remove_all(folder);
  ASSERT_TRUE(SaveViews(calibration_, folder));
  calibration_.CalibrateCameras();
  calibration_.DropWorstView();
  ASSERT_EQ(calibration_.Cameras[0].ViewCount, 5) << LastLine();
  ASSERT_TRUE(SaveViews(calibration_, folder));

  EXPECT_EQ(ViewPairNames(folder), (std::vector<std::string>{"01", "02", "03", "04", "05"}));
  TCalibrationFilter loaded;
  loaded.SetCameraCount(2);
  ASSERT_EQ(LoadViewPairs(loaded, folder, ViewPairNames(folder)), 5);
  for (int side = 0; side < 2; ++side) {
    const auto held = calibration_.ImageViews(side), back = loaded.ImageViews(side);
    for (int view = 0; view < 5; ++view)
      EXPECT_LT(cv::norm(held[view], back[view], cv::NORM_INF), 1e-4) << view;
  }
  std::filesystem::remove_all(folder);
}

struct BoardSize {
  int width, height;
  bool taken;
};

class BoardSizes : public CalibrationSearchTest, public ::testing::WithParamInterface<BoardSize> {};

TEST_P(BoardSizes, BoardsOutsideThreeToAHundredCornersAreRefusedAndLeaveTheViews) {
  const BoardSize size = GetParam();
  PushViews(2);
  EXPECT_EQ(calibration_.SetBoardSize(size.width, size.height), size.taken);
  EXPECT_EQ(calibration_.BoardWidth, size.taken ? size.width : 8);
  EXPECT_EQ(calibration_.BoardHeight, size.taken ? size.height : 6);
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, size.taken ? 0 : 2);
  if (!size.taken) {
    EXPECT_TRUE(LastLine().starts_with("Board ")) << LastLine();
  }
  EXPECT_NO_THROW(Search(true, true));
  EXPECT_NO_THROW(calibration_.CalibrateCameras());

  TStereoCalibration record;
  record.ImageSize = {640, 480};
  record.BoardSize = {size.width, size.height};
  record.K1 = record.K2 = kLeft.camera;
  const std::string path = ::testing::TempDir() + "board_size.yml";
  std::string why;
  ASSERT_TRUE(WriteCalibrationFile(path, record, why)) << why;
  EXPECT_EQ(ReadCalibrationFile(path, why).has_value(), size.taken) << why;
}

INSTANTIATE_TEST_SUITE_P(Sizes, BoardSizes,
                         ::testing::Values(BoardSize{2, 6, false}, BoardSize{8, 2, false},
                                           BoardSize{1, 1, false}, BoardSize{3, 3, true},
                                           BoardSize{7, 5, true}, BoardSize{100, 100, true},
                                           BoardSize{101, 6, false}, BoardSize{100000, 6, false},
                                           BoardSize{100000, 100000, false}));

// The per-view figures of the log lines "View  n  left l right r pair p px".
struct ViewLine {
  double left, right, pair;
  bool worst;
};
std::vector<ViewLine> ViewLines(const std::vector<std::string>& memo) {
  std::vector<ViewLine> views;
  const std::regex pattern(R"(View +\d+  left (\S+) right (\S+) pair (\S+) px( +worst)?)");
  for (const std::string& line : memo) {
    std::smatch m;
    if (std::regex_match(line, m, pattern))
      views.push_back({std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), m[4].matched});
  }
  return views;
}

double RootMeanSquare(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v * v;
  return std::sqrt(sum / static_cast<double>(values.size()));
}

// Views of the synthetic rig with one view's right corners spoilt.
class ViewErrorTest : public CalibrationTest {
 protected:
  void PushWithSpoiltView(int spoilt) {
    cv::RNG random(7);
    for (int view = 0; view < 12; ++view) {
      auto right = Corners(kRight, view, true);
      for (auto& corner : right) corner += cv::Point2f(random.gaussian(0.05), random.gaussian(0.05));
      if (view == spoilt) {
        for (auto& corner : right) corner += cv::Point2f(random.gaussian(1.5), random.gaussian(1.5));
      }
      Push(Corners(kLeft, view, false), right);
    }
  }
};

TEST_F(ViewErrorTest, PerViewErrorsMakeUpTheReportedFiguresAndTheWorstIsMarked) {
  PushWithSpoiltView(4);
  calibration_.CalibrateCameras();
  const std::vector<ViewLine> views = ViewLines(memo_.memo);
  ASSERT_EQ(views.size(), 12u);
  std::vector<double> left, right;
  for (const ViewLine& v : views) {
    left.push_back(v.left);
    right.push_back(v.right);
  }
  EXPECT_NEAR(RootMeanSquare(left), calibration_.Cameras[0].Rms, 1e-3);
  EXPECT_NEAR(RootMeanSquare(right), calibration_.Cameras[1].Rms, 1e-3);
  for (size_t v = 0; v < views.size(); ++v) EXPECT_EQ(views[v].worst, v == 4) << v;

  std::string why;
  const auto stereo = CalibrateStereo(calibration_, why);
  ASSERT_TRUE(stereo) << why;
  ASSERT_EQ(stereo->ViewErrors.size(), 12u);
  std::vector<double> pair;
  for (const cv::Vec2d& v : stereo->ViewErrors) pair.push_back(std::sqrt((v[0] * v[0] + v[1] * v[1]) / 2));
  EXPECT_NEAR(RootMeanSquare(pair), stereo->RmsPair, 1e-9);
}

TEST_F(ViewErrorTest, DropWorstRemovesTheViewItNames) {
  calibration_.DropWorstView();
  EXPECT_EQ(LastLine(), "Drop worst view: no views collected");
  PushWithSpoiltView(7);
  calibration_.DropWorstView();
  EXPECT_EQ(LastLine(), "Drop worst view: press \"Calibrate\" first");
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, 12);

  calibration_.CalibrateCameras();
  const double spoilt_rms = calibration_.Cameras[1].Rms;
  calibration_.DropWorstView();
  EXPECT_TRUE(LastLine().starts_with("Dropped view 8 (pair ")) << LastLine();
  EXPECT_TRUE(LastLine().ends_with("; 11 views left")) << LastLine();
  // The views after it moved up: view 8 is now the rig's ninth pose.
  const auto ninth = Corners(kLeft, 8, false);
  EXPECT_EQ(calibration_.ImageViews(0)[7].at<cv::Point2f>(0), ninth[0]);
  calibration_.CalibrateCameras();
  EXPECT_LT(calibration_.Cameras[1].Rms, spoilt_rms / 3);
}

// The board held in the left and right camera's pose `view` for a number of
// searches, with auto push on.
class AutoPushTest : public CalibrationTest {
 protected:
  void SetUp() override {
    CalibrationTest::SetUp();
    calibration_.AutoPush = true;
  }
  void Hold(int view, int searches) {
    for (int i = 0; i < searches; ++i) Search(view, {0, 0}, {});
  }
  // One search of the view's pose moved by `shift` pixels in both images;
  // `found` says which images show the whole board.
  void Search(int view, cv::Point2f shift, TSearchMoment moment, std::array<bool, 2> found = {true, true}) {
    for (int side = 0; side < 2; ++side) {
      auto& camera = calibration_.Cameras[side];
      camera.Corners = Corners(side == 0 ? kLeft : kRight, view, side == 1);
      for (cv::Point2f& corner : camera.Corners) corner += shift;
      camera.Found = found[side];
      camera.CornerCount = found[side] ? 48 : 20;
      camera.FoundFrame = frame_;
    }
    calibration_.AutoPushStep(moment);
  }
};

TEST_F(AutoPushTest, SaysWhyItWaits) {
  Search(0, {0, 0}, {}, {true, false});
  EXPECT_EQ(calibration_.AutoPushState, "board not whole in the right image");
  Search(0, {0, 0}, {}, {false, false});
  EXPECT_EQ(calibration_.AutoPushState, "board not whole in either image");
  Hold(0, 1);
  EXPECT_EQ(calibration_.AutoPushState, "board found, watching it");
  // From pose 0 to pose 3 every corner moves; the largest move is told.
  const auto from = Corners(kLeft, 0, false), to = Corners(kLeft, 3, false);
  const auto from_right = Corners(kRight, 0, true), to_right = Corners(kRight, 3, true);
  double largest = 0;
  for (size_t i = 0; i < from.size(); ++i) {
    largest = std::max({largest, cv::norm(to[i] - from[i]), cv::norm(to_right[i] - from_right[i])});
  }
  Hold(3, 1);
  EXPECT_EQ(calibration_.AutoPushState, FormatLine("board moving %.1f px", largest));
  Hold(3, 2);
  EXPECT_EQ(calibration_.AutoPushState, "view 1 pushed");
  Hold(3, 1);
  EXPECT_EQ(calibration_.AutoPushState, "view 1 pushed") << "the pose held is judged once";
  Hold(0, 4);
  EXPECT_EQ(calibration_.AutoPushState, "view 2 pushed");
  Hold(3, 4);
  EXPECT_EQ(calibration_.AutoPushState, "already covered");
  calibration_.AutoPush = false;
  Hold(5, 1);
  EXPECT_EQ(calibration_.AutoPushState, "");
}

struct SteadyCase {
  const char* what;
  double shift_per_search_px;
  double interval_ms;
  double pair_gap_ms;
  bool pushed;
};

class AutoPushSteadyTest : public AutoPushTest, public ::testing::WithParamInterface<SteadyCase> {};

// A board that drifts steadily: with the pair's times the speed decides, and
// in live capture the time between the pair's two frames as well.
TEST_P(AutoPushSteadyTest, ABoardSlowEnoughIsPushedWhileItMoves) {
  const SteadyCase& c = GetParam();
  for (int i = 0; i < 4; ++i) {
    Search(2, {static_cast<float>(c.shift_per_search_px * i), 0}, {1000 + c.interval_ms * i, c.pair_gap_ms});
  }
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, c.pushed ? 1 : 0)
      << c.what << ": " << calibration_.AutoPushState;
}

INSTANTIATE_TEST_SUITE_P(
    Drifts, AutoPushSteadyTest,
    ::testing::Values(SteadyCase{"one trigger, 20 px/s", 2.0, 100, 0, true},
                      SteadyCase{"one trigger, 60 px/s", 6.0, 100, 0, false},
                      SteadyCase{"live, 20 px/s, frames 10 ms apart", 2.0, 100, 10, true},
                      SteadyCase{"live, 20 px/s, frames 60 ms apart", 2.0, 100, 60, false},
                      SteadyCase{"held, frames 60 ms apart", 0.0, 100, 60, true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(AutoPushTest, AStillPoseThatAddsCoverageIsPushedOnceAndACoveredOneIsRefused) {
  Hold(0, 2);
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, 0) << "not held long enough";
  Hold(0, 5);
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, 1);
  Hold(3, 5);
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, 2);
  Hold(0, 5);
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, 2);
  EXPECT_EQ(LastLine(), "Auto push: already covered");
  // A board that moves on every search is never taken.
  for (int view = 10; view < 20; ++view) Hold(view, 1);
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, 2);
}

TEST_F(AutoPushTest, CollectsViewsThatSpreadOverTheImageAndStopsAtTwenty) {
  for (int view = 0; view < 60; ++view) Hold(view, 4);
  EXPECT_EQ(calibration_.Cameras[0].ViewCount, TCalibrationFilter::MaxViews);
  EXPECT_EQ(LastLine(), "Auto push: 20 views, stopped");
  for (size_t a = 0; a < calibration_.Shapes.size(); ++a) {
    const std::vector<TViewShape> others(calibration_.Shapes.begin(), calibration_.Shapes.begin() + a);
    EXPECT_TRUE(AddsCoverage(calibration_.Shapes[a], others)) << a;
  }
}

}  // namespace
