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

class TCalibrationFilter {
 public:
  static constexpr int MaxViews = 20;

  struct Camera {
    // The camera's current frame; not owned.
    IplImage* Image = nullptr;
    // Corners of the last search and how many it found.
    std::vector<cv::Point2f> Corners;
    int CornerCount = 0;
    // The board found goes on beyond its corners: it has more than the
    // size set, and the view is not taken.
    bool PartOfLargerBoard = false;
    // Collected views, view v at points v * corners-per-view onwards.
    std::vector<cv::Point2f> ImagePoints;
    std::vector<cv::Point3f> ObjectPoints;
    int ViewCount = 0;
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
  // Stores a camera's current frame; an index beyond the count is ignored.
  void SetImage(int index, IplImage* image);

  // Searches every camera's current frame for the board and draws what it
  // found into that frame.
  void FindCorners();
  // Adds the last search's corners as one view of every camera, when every
  // camera found the whole board and the stores have room.
  void PushView();
  // Calibrates each camera from its views and logs its results.
  void CalibrateCameras();
  // Estimates the fundamental matrix from the views of both cameras.
  void FindFundamental();

  int CornersPerView() const { return BoardWidth * BoardHeight; }
  // A camera's collected views as the calibration functions take them:
  // the board's corners (in squares) and the image points, view by view.
  std::vector<cv::Mat> ObjectViews(int camera);
  std::vector<cv::Mat> ImageViews(int camera);
  // Another board: the stores are made for 20 views of its size, and the
  // views of the old board are dropped.
  void SetBoardSize(int width, int height);

  int BoardWidth = 8;
  int BoardHeight = 6;
  // Side of one printed square in mm: lengths of a calibration (T, P2, Q)
  // come out in mm.
  double SquareSize_mm = 25.0;
  // Found corners are refined to sub-pixel accuracy before they are drawn
  // and kept.
  bool SubPixel = false;
  std::vector<Camera> Cameras;
  cv::Matx33d Fundamental = cv::Matx33d::zeros();
  // Where report lines go; none: no report.
  TLogMemo* LogMemo = nullptr;

 private:
  void Log(const std::string& line);
  void CalibrateCamera(int index);
  void SizeStores();
  void Refine(const cv::Mat& image, std::vector<cv::Point2f>& corners);

  cv::Mat grey_;
};

// printf-style formatting for the report lines.
template <class... Values>
std::string FormatLine(const char* format, Values... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}
