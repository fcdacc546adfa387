#pragma once

// Chessboard calibration of the rig's cameras: corner search on the current
// frames, collected views, per-camera calibration and the fundamental matrix
// between the two cameras. The distortion filter owns one and feeds it.

#include <opencv2/core/types_c.h>

#include <cstdio>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "filters/filter_setup.h"
#include "filters/view_coverage.h"

// When a searched pair was taken: the time of its newer frame (host
// milliseconds, 0 when unknown) and how far apart its two frames were (0 for
// frames of one trigger).
struct TSearchMoment {
  double Time_ms = 0;
  double PairGap_ms = 0;
};

class TCalibrationFilter {
 public:
  static constexpr int MaxViews = 20;
  static constexpr int MinCorners = 3;
  // More inner corners than a camera can resolve: a file or field asking
  // for them is damaged.
  static constexpr int MaxCorners = 100;
  static constexpr double MaxSquareSize_mm = 1000.0;

  struct Camera {
    // Corners of the last search, how many it reports, and whether the
    // search accepted them as the whole board.
    std::vector<cv::Point2f> Corners;
    int CornerCount = 0;
    bool Found = false;
    // The board found goes on beyond its corners: it has more than the
    // size set, and the view is not taken.
    bool PartOfLargerBoard = false;
    // The last frame in which the whole board was found, before anything
    // was drawn into it.
    cv::Mat FoundFrame;
    // Collected views, view v at points v * corners-per-view onwards, the
    // frame of each and the size they were all taken at.
    std::vector<cv::Point2f> ImagePoints;
    std::vector<cv::Point3f> ObjectPoints;
    std::vector<cv::Mat> ViewFrames;
    int ViewCount = 0;
    cv::Size ViewSize;
    // Results of the last calibration: [fx 0 cx; 0 fy cy; 0 0 1] and
    // k1, k2, p1, p2.
    cv::Matx33d CameraMatrix = cv::Matx33d::zeros();
    cv::Vec4d Distortion = cv::Vec4d::all(0);
    // Reprojection RMS of that calibration in pixels, and the image size.
    double Rms = 0;
    cv::Size ImageSize;
    bool Calibrated() const { return CameraMatrix(2, 2) != 0.0; }
  };

  // Sizes the per-camera slots and stores; no views collected.
  void SetCameraCount(int count);
  int CameraCount() const { return static_cast<int>(Cameras.size()); }

  // Searches each camera's frame (by index; none: nothing found) for the
  // board and draws what it found into that frame. No frame is kept.
  void FindCorners(const std::vector<IplImage*>& frames);
  void FindCorners(std::vector<cv::Mat>& frames);
  // Adds the last search's corners as one view of every camera, when every
  // camera found the whole board and the stores have room.
  void PushView();
  // Calibrates each camera from its views and logs its results.
  void CalibrateCameras();
  // Estimates the fundamental matrix from the views of both cameras.
  void FindFundamental();
  // Logs the RMS of each view for both cameras and the pair, the worst
  // marked, and keeps the pair's errors for "Drop worst view".
  void ReportViewErrors(const std::vector<cv::Vec2d>& errors);
  // Removes the view of the largest pair error of the last calibration.
  void DropWorstView();
  // After a search: pushes a whole board that adds coverage once it holds
  // steady. With the pair's times, steady is slow enough for sharp corners
  // and for both images to show one pose; without them, corners moving less
  // than half a pixel from search to search.
  void AutoPushStep(const TSearchMoment& moment = TSearchMoment());
  TViewCoverage Coverage() const { return CoverageOf(Shapes); }

  int CornersPerView() const { return BoardWidth * BoardHeight; }
  // A camera's collected views as the calibration functions take them:
  // the board's corners (in squares) and the image points, view by view.
  std::vector<cv::Mat> ObjectViews(int camera);
  std::vector<cv::Mat> ImageViews(int camera);
  // Another board: the stores are made for 20 views of its size, and the
  // views of the old board are dropped. A board outside 3 x 3 ... 100 x 100
  // corners, or stores that cannot be made, are refused (false, with a
  // line) and leave board and views as they were.
  bool SetBoardSize(int width, int height);
  // Why a board of that many corners is refused; empty when it is not.
  static std::string BoardSizeRefusal(int width, int height);
  // Drops every view.
  void ClearViews() { ResetViews(); }
  // The views, board and search settings of another calibration of as many
  // cameras, in place of this one's; the calibration results stay.
  void TakeViews(TCalibrationFilter&& other);

  int BoardWidth = 8;
  int BoardHeight = 6;
  // Side of one printed square in mm: lengths of a calibration (T, P2, Q)
  // come out in mm.
  double SquareSize_mm = 25.0;
  // Found corners are refined to sub-pixel accuracy before they are drawn
  // and kept.
  bool SubPixel = false;
  bool AutoPush = false;
  // What the last auto-push step saw: why it waits, or what it did; empty
  // while auto push is off.
  std::string AutoPushState;
  std::vector<Camera> Cameras;
  // Shape of each view in the left image, for coverage.
  std::vector<TViewShape> Shapes;
  // Pair error of each view in the last calibration; empty when none.
  std::vector<double> PairErrors;
  cv::Matx33d Fundamental = cv::Matx33d::zeros();
  // Where report lines go; none: no report.
  TLogMemo* LogMemo = nullptr;

 private:
  void Log(const std::string& line);
  void Search(Camera& camera, cv::Mat* frame);
  void RemoveView(int view);
  bool CalibrateCamera(int index, std::vector<double>& view_errors);
  void ResetViews();
  void Refine(const cv::Mat& image, std::vector<cv::Point2f>& corners);
  bool WholeBoardInEvery() const;
  // Largest move of a corner since the previous search, in pixels; infinite
  // without a previous board to compare with.
  double BoardMove();
  bool Steady(double move_px, const TSearchMoment& moment) const;
  // "the left image", "the right image", "either image".
  std::string ImagesWithoutBoard() const;
  // Pushes the pose held still when it adds coverage; what came of it.
  std::string JudgePose();

  cv::Mat grey_;
  // Auto push: corners of the previous search and how many searches the
  // board has held still; the pose held was judged already.
  std::vector<std::vector<cv::Point2f>> previous_corners_;
  int still_searches_ = 0;
  int missed_searches_ = 0;
  bool pose_judged_ = false;
  std::string pose_verdict_;
  double previous_time_ms_ = 0;
};

// The corner count a search reports: a rejected search never reports a
// whole board, whatever its list holds.
int ReportedCornerCount(bool found, size_t listed, int per_view);

// printf-style formatting for the report lines.
template <class... Values>
std::string FormatLine(const char* format, Values... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}
