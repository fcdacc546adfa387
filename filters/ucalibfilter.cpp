#include "filters/ucalibfilter.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/board_outline.h"

namespace {

// Auto push: searches in a row that the board must hold still (corners
// moving less than half a pixel), and searches without a whole board before
// the operator is told to check the board size.
constexpr int kStillSearches = 2;
constexpr double kStillPixels = 0.5;
// With the pair's times: corners slower than this blur by less than half a
// pixel in a frame of 10 ms, and the two images of a pair may differ by half
// a pixel of motion between their moments.
constexpr double kSteadySpeed_px_s = 40;
constexpr int kSearchesBeforeHint = 100;

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

double LargestMove(const std::vector<cv::Point2f>& from, const std::vector<cv::Point2f>& to) {
  double largest = 0;
  for (size_t i = 0; i < from.size(); ++i) largest = std::max<double>(largest, cv::norm(to[i] - from[i]));
  return largest;
}

}  // namespace

int ReportedCornerCount(bool found, size_t listed, int per_view) {
  return found ? per_view : std::min(static_cast<int>(listed), per_view - 1);
}

void TCalibrationFilter::Log(const std::string& line) {
  if (LogMemo != nullptr) LogMemo->AppendLine(line);
}

void TCalibrationFilter::SetCameraCount(int count) {
  Cameras.assign(static_cast<size_t>(std::max(count, 0)), Camera{});
  const size_t capacity = static_cast<size_t>(MaxViews) * CornersPerView();
  for (Camera& camera : Cameras) {
    camera.ImagePoints.assign(capacity, {});
    camera.ObjectPoints.assign(capacity, {});
  }
  ResetViews();
}

void TCalibrationFilter::ResetViews() {
  for (Camera& camera : Cameras) {
    camera.ViewFrames.clear();
    camera.ViewCount = 0;
    camera.ViewSize = {};
    camera.CornerCount = 0;
    camera.Found = false;
  }
  Shapes.clear();
  PairErrors.clear();
  previous_corners_.clear();
  still_searches_ = 0;
}

std::string TCalibrationFilter::BoardSizeRefusal(int width, int height) {
  // The search cannot take a board of fewer corners.
  if (width >= MinCorners && height >= MinCorners && width <= MaxCorners && height <= MaxCorners) return {};
  return FormatLine("Board %d x %d refused: at least %d x %d and at most %d x %d corners", width, height,
                    MinCorners, MinCorners, MaxCorners, MaxCorners);
}

bool TCalibrationFilter::SetBoardSize(int width, int height) {
  if (width == BoardWidth && height == BoardHeight) return true;
  if (const std::string why = BoardSizeRefusal(width, height); !why.empty()) {
    Log(why);
    return false;
  }
  // The new stores are made before anything changes.
  const size_t capacity = static_cast<size_t>(MaxViews) * static_cast<size_t>(width * height);
  std::vector<std::vector<cv::Point2f>> image_points(Cameras.size());
  std::vector<std::vector<cv::Point3f>> object_points(Cameras.size());
  try {
    for (size_t index = 0; index < Cameras.size(); ++index) {
      image_points[index].resize(capacity);
      object_points[index].resize(capacity);
    }
  } catch (const std::bad_alloc&) {
    Log(FormatLine("Board %d x %d refused: no memory for its views", width, height));
    return false;
  }
  for (size_t index = 0; index < Cameras.size(); ++index) {
    Cameras[index].ImagePoints.swap(image_points[index]);
    Cameras[index].ObjectPoints.swap(object_points[index]);
  }
  BoardWidth = width;
  BoardHeight = height;
  ResetViews();
  Log(FormatLine("Board %d x %d: views cleared", width, height));
  return true;
}

void TCalibrationFilter::TakeViews(TCalibrationFilter&& other) {
  BoardWidth = other.BoardWidth;
  BoardHeight = other.BoardHeight;
  SquareSize_mm = other.SquareSize_mm;
  SubPixel = other.SubPixel;
  ResetViews();
  for (size_t index = 0; index < Cameras.size() && index < other.Cameras.size(); ++index) {
    Camera& camera = Cameras[index];
    Camera& taken = other.Cameras[index];
    camera.ImagePoints = std::move(taken.ImagePoints);
    camera.ObjectPoints = std::move(taken.ObjectPoints);
    camera.ViewFrames = std::move(taken.ViewFrames);
    camera.ViewCount = taken.ViewCount;
    camera.ViewSize = taken.ViewSize;
  }
  Shapes = std::move(other.Shapes);
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

void TCalibrationFilter::FindCorners(const std::vector<IplImage*>& frames) {
  std::vector<cv::Mat> views;
  views.reserve(frames.size());
  for (IplImage* frame : frames) views.push_back(frame != nullptr ? cv::cvarrToMat(frame) : cv::Mat());
  FindCorners(views);
}

void TCalibrationFilter::FindCorners(std::vector<cv::Mat>& frames) {
  for (size_t index = 0; index < Cameras.size(); ++index) {
    cv::Mat* frame = index < frames.size() && !frames[index].empty() ? &frames[index] : nullptr;
    Search(Cameras[index], frame);
  }
}

void TCalibrationFilter::Search(Camera& camera, cv::Mat* frame) {
  // A side without a frame has found nothing: its old result must not be
  // joined to the other side's fresh one.
  camera.Corners.clear();
  camera.CornerCount = 0;
  camera.Found = false;
  camera.PartOfLargerBoard = false;
  if (frame == nullptr) return;
  cv::Mat& image = *frame;
  const cv::Size pattern(BoardWidth, BoardHeight);
  // The quick check first: a frame without a board costs a few ms instead
  // of the full search's 170 ms. Normalising finds boards in uneven light.
  const bool found = cv::findChessboardCorners(
      image, pattern, camera.Corners,
      cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE | cv::CALIB_CB_FAST_CHECK);
  camera.Found = found;
  camera.CornerCount = ReportedCornerCount(found, camera.Corners.size(), CornersPerView());
  if (found) {
    image.copyTo(camera.FoundFrame);
    if (SubPixel) Refine(image, camera.Corners);
    camera.PartOfLargerBoard = BoardExtendsBeyond(image, camera.Corners, pattern);
  }
  if (!camera.Corners.empty()) cv::drawChessboardCorners(image, pattern, camera.Corners, found);
}

bool TCalibrationFilter::WholeBoardInEvery() const {
  return !Cameras.empty() && std::all_of(Cameras.begin(), Cameras.end(), [this](const Camera& camera) {
    return camera.Found && camera.CornerCount == CornersPerView();
  });
}

void TCalibrationFilter::PushView() {
  bool complete = WholeBoardInEvery();
  const bool part =
      std::any_of(Cameras.begin(), Cameras.end(), [](const Camera& c) { return c.PartOfLargerBoard; });
  if (complete && part) {
    Log(FormatLine("Push: the board has more corners than %d x %d; set its size", BoardWidth, BoardHeight));
    complete = false;
  }
  for (const Camera& camera : Cameras) {
    const cv::Size size = camera.FoundFrame.size();
    if (complete && camera.ViewCount > 0 && size != camera.ViewSize) {
      Log(FormatLine("Push: frames of %d x %d do not match the views' %d x %d", size.width, size.height,
                     camera.ViewSize.width, camera.ViewSize.height));
      complete = false;
    }
  }
  const bool room = !Cameras.empty() && Cameras[0].ViewCount < MaxViews;
  if (complete && room) {
    for (Camera& camera : Cameras) {
      std::copy(camera.Corners.begin(), camera.Corners.begin() + CornersPerView(),
                camera.ImagePoints.begin() + static_cast<ptrdiff_t>(camera.ViewCount) * CornersPerView());
      camera.ViewFrames.push_back(camera.FoundFrame.clone());
      camera.ViewSize = camera.FoundFrame.size();
      ++camera.ViewCount;
    }
    Shapes.push_back(ShapeOfView(Cameras[0].Corners.data(), {BoardWidth, BoardHeight}, Cameras[0].ViewSize));
    PairErrors.clear();
  }
  const auto views = [this](int index) { return index < CameraCount() ? Cameras[index].ViewCount : 0; };
  Log(FormatLine("Images: %d %d", views(0), views(1)));
}

double TCalibrationFilter::BoardMove() {
  double largest = previous_corners_.size() == Cameras.size() ? 0 : std::numeric_limits<double>::infinity();
  for (size_t index = 0; std::isfinite(largest) && index < Cameras.size(); ++index) {
    largest = previous_corners_[index].size() == Cameras[index].Corners.size()
                  ? std::max(largest, LargestMove(previous_corners_[index], Cameras[index].Corners))
                  : std::numeric_limits<double>::infinity();
  }
  previous_corners_.clear();
  for (const Camera& camera : Cameras) previous_corners_.push_back(camera.Corners);
  return largest;
}

std::string TCalibrationFilter::ImagesWithoutBoard() const {
  std::vector<std::string> names;
  for (int index = 0; index < CameraCount(); ++index) {
    const Camera& camera = Cameras[static_cast<size_t>(index)];
    if (camera.Found && camera.CornerCount == CornersPerView()) continue;
    names.push_back(index == 0 ? "left" : index == 1 ? "right" : FormatLine("camera %d", index + 1));
  }
  if (names.size() == 2 && CameraCount() == 2) return "either image";
  std::string text = "the " + names.front();
  for (size_t i = 1; i < names.size(); ++i) text += " and the " + names[i];
  return text + " image";
}

bool TCalibrationFilter::Steady(double move_px, const TSearchMoment& moment) const {
  const double interval_ms = moment.Time_ms - previous_time_ms_;
  if (moment.Time_ms <= 0 || previous_time_ms_ <= 0 || interval_ms <= 0) return move_px < kStillPixels;
  const double speed_px_s = move_px / interval_ms * 1000;
  return speed_px_s < kSteadySpeed_px_s && speed_px_s * moment.PairGap_ms / 1000 < kStillPixels;
}

void TCalibrationFilter::AutoPushStep(const TSearchMoment& moment) {
  AutoPushState.clear();
  if (!AutoPush || Cameras.empty()) return;
  if (Cameras[0].ViewCount >= MaxViews) {
    AutoPushState = FormatLine("%d views, stopped", MaxViews);
    return;
  }
  if (!WholeBoardInEvery()) {
    previous_corners_.clear();
    previous_time_ms_ = 0;
    still_searches_ = 0;
    pose_judged_ = false;
    AutoPushState = "board not whole in " + ImagesWithoutBoard();
    if (++missed_searches_ == kSearchesBeforeHint) {
      Log(FormatLine("Auto push: no whole board of %d x %d corners in both images; is that the board's size?",
                     BoardWidth, BoardHeight));
    }
    return;
  }
  missed_searches_ = 0;
  const double move = BoardMove();
  const bool steady = std::isfinite(move) && Steady(move, moment);
  previous_time_ms_ = moment.Time_ms;
  if (!steady) {
    still_searches_ = 0;
    pose_judged_ = false;
    AutoPushState =
        std::isfinite(move) ? FormatLine("board moving %.1f px", move) : "board found, watching it";
    return;
  }
  if (++still_searches_ < kStillSearches) {
    AutoPushState = FormatLine("board steady (%.1f px), watching it", move);
    return;
  }
  if (pose_judged_) {
    AutoPushState = pose_verdict_;
    return;
  }
  pose_judged_ = true;
  pose_verdict_ = JudgePose();
  AutoPushState = pose_verdict_;
}

std::string TCalibrationFilter::JudgePose() {
  if (std::any_of(Cameras.begin(), Cameras.end(), [](const Camera& c) { return c.PartOfLargerBoard; })) {
    Log(FormatLine("Auto push: the board has more corners than %d x %d; set its size", BoardWidth,
                   BoardHeight));
    return FormatLine("board larger than %d x %d corners", BoardWidth, BoardHeight);
  }
  const TViewShape shape =
      ShapeOfView(Cameras[0].Corners.data(), {BoardWidth, BoardHeight}, Cameras[0].FoundFrame.size());
  if (!AddsCoverage(shape, Shapes)) {
    Log("Auto push: already covered");
    return "already covered";
  }
  PushView();
  if (Cameras[0].ViewCount == MaxViews) Log(FormatLine("Auto push: %d views, stopped", MaxViews));
  return FormatLine("view %d pushed", Cameras[0].ViewCount);
}

void TCalibrationFilter::CalibrateCameras() {
  if (Cameras.empty() || Cameras[0].ViewCount == 0) {
    Log("Calibrate: no views collected; push views of the board first");
    return;
  }
  Log(CoverageLine(Coverage()));
  std::vector<std::vector<double>> errors(Cameras.size());
  bool all = true;
  for (int index = 0; index < CameraCount(); ++index) all = CalibrateCamera(index, errors[index]) && all;
  if (!all || CameraCount() != 2) return;
  std::vector<cv::Vec2d> pairs;
  for (size_t v = 0; v < errors[0].size(); ++v) pairs.emplace_back(errors[0][v], errors[1][v]);
  ReportViewErrors(pairs);
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

bool TCalibrationFilter::CalibrateCamera(int index, std::vector<double>& view_errors) {
  Camera& camera = Cameras[index];
  const char* side = index == 0 ? "Left" : "Right";
  if (camera.ViewSize.empty()) {
    Log(FormatLine("Calibrate: no image of the %s camera", index == 0 ? "left" : "right"));
    return false;
  }
  camera.CameraMatrix = cv::Matx33d::zeros();
  camera.Distortion = cv::Vec4d::all(0);
  cv::Mat distortion = cv::Mat::zeros(1, 4, CV_64F);
  std::vector<cv::Mat> rotations, translations;
  cv::Mat errors;
  try {
    // k1, k2, p1, p2: no third radial term.
    camera.Rms = cv::calibrateCamera(ObjectViews(index), ImageViews(index), camera.ViewSize,
                                     camera.CameraMatrix, distortion, rotations, translations, cv::noArray(),
                                     cv::noArray(), errors, cv::CALIB_FIX_K3);
  } catch (const cv::Exception& error) {
    Log(FormatLine("Calibrate %s failed: %s", side, error.err.c_str()));
    return false;
  }
  errors.convertTo(errors, CV_64F);
  view_errors.assign(errors.begin<double>(), errors.end<double>());
  const cv::Mat coefficients = distortion.reshape(1, 1);
  for (int k = 0; k < 4; ++k) camera.Distortion[k] = coefficients.at<double>(k);
  camera.ImageSize = camera.ViewSize;
  const cv::Vec4d& d = camera.Distortion;
  const cv::Matx33d& m = camera.CameraMatrix;
  Log(FormatLine("%s  k1 %1.4f k2 %1.4f p1 %1.4f p2 %1.4f", side, d[0], d[1], d[2], d[3]));
  Log(FormatLine("%s 0 %1.4f 2 %1.4f 4 %1.4f 5 %1.4f", side, m(0, 0), m(0, 2), m(1, 1), m(1, 2)));
  return true;
}

void TCalibrationFilter::ReportViewErrors(const std::vector<cv::Vec2d>& errors) {
  PairErrors.clear();
  for (const cv::Vec2d& view : errors)
    PairErrors.push_back(std::sqrt((view[0] * view[0] + view[1] * view[1]) / 2));
  const auto worst = std::max_element(PairErrors.begin(), PairErrors.end()) - PairErrors.begin();
  for (size_t v = 0; v < errors.size(); ++v) {
    Log(FormatLine("View %2d  left %1.4f right %1.4f pair %1.4f px%s", static_cast<int>(v) + 1, errors[v][0],
                   errors[v][1], PairErrors[v], static_cast<ptrdiff_t>(v) == worst ? "  worst" : ""));
  }
}

void TCalibrationFilter::RemoveView(int view) {
  const ptrdiff_t per_view = CornersPerView();
  for (Camera& camera : Cameras) {
    auto first = camera.ImagePoints.begin();
    std::copy(first + (view + 1) * per_view, first + camera.ViewCount * per_view, first + view * per_view);
    camera.ViewFrames.erase(camera.ViewFrames.begin() + view);
    --camera.ViewCount;
  }
  Shapes.erase(Shapes.begin() + view);
}

void TCalibrationFilter::DropWorstView() {
  if (Cameras.empty() || Cameras[0].ViewCount == 0) {
    Log("Drop worst view: no views collected");
    return;
  }
  if (PairErrors.size() != static_cast<size_t>(Cameras[0].ViewCount)) {
    Log("Drop worst view: press \"Calibrate\" first");
    return;
  }
  const auto worst = std::max_element(PairErrors.begin(), PairErrors.end());
  const int view = static_cast<int>(worst - PairErrors.begin());
  const double error = *worst;
  RemoveView(view);
  PairErrors.clear();
  Log(FormatLine("Dropped view %d (pair %1.4f px); %d views left", view + 1, error, Cameras[0].ViewCount));
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
