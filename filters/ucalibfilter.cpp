#include "filters/ucalibfilter.h"

#include <opencv2/core/core_c.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/board_outline.h"

namespace {

// Views of a store as the calibration functions take them, without copying.
template <class Point>
std::vector<cv::Mat> ViewsOf(std::vector<Point>& store, int views, int per_view) {
  std::vector<cv::Mat> result;
  result.reserve(static_cast<size_t>(views));
  for (int v = 0; v < views; ++v) {
    result.emplace_back(per_view, 1, cv::traits::Type<Point>::value,
                        &store[static_cast<size_t>(v) * per_view]);
  }
  return result;
}

}  // namespace

void TCalibrationFilter::Log(const std::string& line) {
  if (LogMemo != nullptr) LogMemo->AppendLine(line);
}

void TCalibrationFilter::SetCameraCount(int count) {
  Cameras.assign(static_cast<size_t>(std::max(count, 0)), Camera{});
  SizeStores();
}

void TCalibrationFilter::SizeStores() {
  const size_t capacity = static_cast<size_t>(MaxViews) * CornersPerView();
  for (Camera& camera : Cameras) {
    camera.ImagePoints.assign(capacity, {});
    camera.ObjectPoints.assign(capacity, {});
    camera.ViewCount = 0;
    camera.CornerCount = 0;
  }
}

void TCalibrationFilter::SetBoardSize(int width, int height) {
  if (width == BoardWidth && height == BoardHeight) return;
  BoardWidth = width;
  BoardHeight = height;
  SizeStores();
  Log(FormatLine("Board %d x %d: views cleared", width, height));
}

void TCalibrationFilter::Refine(const cv::Mat& image, std::vector<cv::Point2f>& corners) {
  if (image.channels() == 1) {
    grey_ = image;
  } else {
    cv::cvtColor(image, grey_, cv::COLOR_BGR2GRAY);
  }
  cv::cornerSubPix(grey_, corners, {5, 5}, {-1, -1},
                   cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 30, 0.01));
}

void TCalibrationFilter::SetImage(int index, IplImage* image) {
  if (index >= 0 && index < CameraCount()) Cameras[index].Image = image;
}

void TCalibrationFilter::FindCorners() {
  const cv::Size pattern(BoardWidth, BoardHeight);
  for (Camera& camera : Cameras) {
    if (camera.Image == nullptr) continue;
    cv::Mat image = cv::cvarrToMat(camera.Image);
    camera.Corners.clear();
    // The quick check first: a frame without a board costs a few ms
    // instead of the full search's 170 ms.
    const bool found = cv::findChessboardCorners(image, pattern, camera.Corners,
                                                 cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FAST_CHECK);
    camera.CornerCount = found ? CornersPerView() : static_cast<int>(camera.Corners.size());
    if (found && SubPixel) Refine(image, camera.Corners);
    camera.PartOfLargerBoard = found && BoardExtendsBeyond(image, camera.Corners, pattern);
    if (camera.CornerCount > 0) cv::drawChessboardCorners(image, pattern, camera.Corners, found);
  }
}

void TCalibrationFilter::PushView() {
  bool complete = !Cameras.empty();
  bool part = false;
  for (const Camera& camera : Cameras) {
    complete = complete && camera.CornerCount == CornersPerView();
    part = part || camera.PartOfLargerBoard;
  }
  if (complete && part) {
    Log(FormatLine("Push: the board has more corners than %d x %d; set its size", BoardWidth, BoardHeight));
    complete = false;
  }
  const bool room = !Cameras.empty() && Cameras[0].ViewCount < MaxViews;
  if (complete && room) {
    for (Camera& camera : Cameras) {
      std::copy(camera.Corners.begin(), camera.Corners.begin() + CornersPerView(),
                camera.ImagePoints.begin() + static_cast<ptrdiff_t>(camera.ViewCount) * CornersPerView());
      ++camera.ViewCount;
    }
  }
  const auto views = [this](int index) { return index < CameraCount() ? Cameras[index].ViewCount : 0; };
  Log(FormatLine("Images: %d %d", views(0), views(1)));
}

void TCalibrationFilter::CalibrateCameras() {
  if (Cameras.empty() || Cameras[0].ViewCount == 0) {
    Log("Calibrate: no views collected; push views of the board first");
    return;
  }
  for (int index = 0; index < CameraCount(); ++index) CalibrateCamera(index);
}

std::vector<cv::Mat> TCalibrationFilter::ObjectViews(int index) {
  Camera& camera = Cameras[index];
  // Board corners in mm, in the search's row-by-row order.
  const auto square = static_cast<float>(SquareSize_mm);
  for (int v = 0; v < camera.ViewCount; ++v) {
    for (int r = 0; r < BoardHeight; ++r) {
      for (int c = 0; c < BoardWidth; ++c) {
        camera.ObjectPoints[(static_cast<size_t>(v) * BoardHeight + r) * BoardWidth + c] =
            cv::Point3f(static_cast<float>(r) * square, static_cast<float>(c) * square, 0.0f);
      }
    }
  }
  return ViewsOf(camera.ObjectPoints, camera.ViewCount, CornersPerView());
}

std::vector<cv::Mat> TCalibrationFilter::ImageViews(int index) {
  return ViewsOf(Cameras[index].ImagePoints, Cameras[index].ViewCount, CornersPerView());
}

void TCalibrationFilter::CalibrateCamera(int index) {
  Camera& camera = Cameras[index];
  const char* side = index == 0 ? "Left" : "Right";
  if (camera.Image == nullptr) {
    Log(FormatLine("Calibrate: no image of the %s camera", index == 0 ? "left" : "right"));
    return;
  }
  camera.CameraMatrix = cv::Matx33d::zeros();
  camera.Distortion = cv::Vec4d::all(0);
  cv::Mat distortion = cv::Mat::zeros(1, 4, CV_64F);
  try {
    // k1, k2, p1, p2: no third radial term.
    camera.Rms = cv::calibrateCamera(ObjectViews(index), ImageViews(index),
                                     cv::Size(camera.Image->width, camera.Image->height), camera.CameraMatrix,
                                     distortion, cv::noArray(), cv::noArray(), cv::CALIB_FIX_K3);
  } catch (const cv::Exception& error) {
    Log(FormatLine("Calibrate %s failed: %s", side, error.err.c_str()));
    return;
  }
  const cv::Mat coefficients = distortion.reshape(1, 1);
  for (int k = 0; k < 4; ++k) camera.Distortion[k] = coefficients.at<double>(k);
  camera.ImageSize = cv::Size(camera.Image->width, camera.Image->height);
  const cv::Vec4d& d = camera.Distortion;
  const cv::Matx33d& m = camera.CameraMatrix;
  Log(FormatLine("%s  k1 %1.4f k2 %1.4f p1 %1.4f p2 %1.4f", side, d[0], d[1], d[2], d[3]));
  Log(FormatLine("%s 0 %1.4f 2 %1.4f 4 %1.4f 5 %1.4f", side, m(0, 0), m(0, 2), m(1, 1), m(1, 2)));
}

void TCalibrationFilter::FindFundamental() {
  if (CameraCount() != 2 || Cameras[0].ViewCount != Cameras[1].ViewCount) return;
  constexpr int kViewsNeeded = 8;
  const int views = Cameras[0].ViewCount;
  if (views < kViewsNeeded) {
    Log(FormatLine("Stereo: %d views collected, %d needed", views, kViewsNeeded));
    return;
  }
  const int points = views * CornersPerView();
  const cv::Mat left(points, 1, CV_32FC2, Cameras[0].ImagePoints.data());
  const cv::Mat right(points, 1, CV_32FC2, Cameras[1].ImagePoints.data());
  cv::Mat fundamental;
  try {
    fundamental = cv::findFundamentalMat(left, right, cv::FM_RANSAC, 1.0, 0.99);
  } catch (const cv::Exception& error) {
    Log(FormatLine("Stereo failed: %s", error.err.c_str()));
    return;
  }
  const int found = fundamental.rows / 3;
  if (found > 0) {
    cv::Mat first;
    fundamental.rowRange(0, 3).convertTo(first, CV_64F);
    Fundamental = cv::Matx33d(first.ptr<double>());
  }
  Log("FindFundmat " + std::to_string(found));
  for (int row = 0; row < 3; ++row) {
    Log(FormatLine("Fundmat %d  k1 %1.4f k2 %1.4f k3 %1.4f", row + 1, Fundamental(row, 0),
                   Fundamental(row, 1), Fundamental(row, 2)));
  }
}
