#include "filters/vidfilters_distort.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "Video/vidclass/ipl.h"
#include "filters/formats/calibration_formats.h"
#include "filters/mainwindow_link.h"
#include "filters/saved_views.h"

namespace {

constexpr float kCoefficientUnit = 10000.0f;

bool IsCoefficient(TDistortField field) {
  const int index = static_cast<int>(field);
  return index < 16 && index % 8 < 4;
}

// Map values 0 ... limit as grey 0 ... 255 in one channel of the image.
void DrawMapIntoChannel(const IplImage* map, IplImage* image, int channel, double limit) {
  const cv::Mat source = cv::cvarrToMat(map);
  cv::Mat target = cv::cvarrToMat(image);
  const double scale = limit != 0.0 ? 255.0 / limit : 0.0;
  const ptrdiff_t channels = image->nChannels;
  for (int y = 0; y < source.rows; ++y) {
    const float* values = source.ptr<float>(y);
    uint8_t* pixels = target.ptr<uint8_t>(y) + channel;
    for (int x = 0; x < source.cols; ++x)
      pixels[x * channels] = cv::saturate_cast<uint8_t>(values[x] * scale);
  }
}

// The corners of the collected views as faint dots, so that the parts of
// the image no view covers stand out.
void MarkViewCorners(const TCalibrationFilter::Camera& camera, int per_view, IplImage* frame) {
  cv::Mat image = cv::cvarrToMat(frame);
  const cv::Rect inside(0, 0, image.cols, image.rows);
  for (int i = 0; i < camera.ViewCount * per_view; ++i) {
    const cv::Point2f corner = camera.ImagePoints[static_cast<size_t>(i)];
    const cv::Rect dot = cv::Rect(cvRound(corner.x) - 1, cvRound(corner.y) - 1, 3, 3) & inside;
    if (dot.empty()) continue;
    cv::Mat patch = image(dot);
    patch.convertTo(patch, -1, 0.6, 0.4 * 255);
  }
}

void InitSideMaps(const cv::Matx33f& camera, const cv::Vec4f& distortion, IplImage* map_x, IplImage* map_y) {
  cv::Mat x = cv::cvarrToMat(map_x), y = cv::cvarrToMat(map_y);
  cv::initUndistortRectifyMap(camera, distortion, cv::noArray(), camera, x.size(), CV_32FC1, x, y);
}

// The moment a pair was taken, as auto push judges the board's motion by.
TSearchMoment MomentOf(const std::array<FrameStamp, 2>& stamps) {
  TSearchMoment moment;
  if (stamps[0].Time_ms <= 0 || stamps[1].Time_ms <= 0) return moment;
  moment.Time_ms = std::max(stamps[0].Time_ms, stamps[1].Time_ms);
  const bool one_trigger = stamps[0].Trigger != 0 && stamps[0].Trigger == stamps[1].Trigger;
  moment.PairGap_ms = one_trigger ? 0 : std::abs(stamps[0].Time_ms - stamps[1].Time_ms);
  return moment;
}

}  // namespace

struct TDistortFilter::Side {
  int index;
  const cv::Matx33f& camera;
  const cv::Vec4f& distortion;
  IplImage*& map_x;
  IplImage*& map_y;
  IplImage*& output;
  TUndistortCache& cache;
};

TDistortFilter::Side TDistortFilter::LeftSide() {
  return {0, CameraLeft, DistLeft, MapXLeft, MapYLeft, OutLeft, undistort_left_};
}

TDistortFilter::Side TDistortFilter::RightSide() {
  return {1, CameraRight, DistRight, MapXRight, MapYRight, OutRight, undistort_right_};
}

TDistortFilter::TDistortFilter(CreateKey key) : TVidFilter(key) {
  if (MainWindow != nullptr) dialog_ = MainWindow->MakeDistortSetup(*this);
  Setup = dialog_.get();
  Calibration.SetCameraCount(2);
  if (dialog_) Calibration.LogMemo = &dialog_->Memo();
  SetMode(kPassWithoutChange);
  // The identity model, and Warp the identity too, shown as in force.
  SetCameraModel(true, cv::Matx33d::eye(), cv::Vec4d::all(0));
  SetCameraModel(false, cv::Matx33d::eye(), cv::Vec4d::all(0));
  SetWarp(cv::Matx33d::eye());
}

TDistortFilter::~TDistortFilter() {
  for (IplImage** buffer : {&MapXLeft, &MapYLeft, &MapXRight, &MapYRight, &Scratch}) ReleaseBuffer(*buffer);
}

void TDistortFilter::FinishCreate() { InitUndistortMaps(); }

float* TDistortFilter::FieldSlot(TDistortField field) {
  const int index = static_cast<int>(field);
  if (index >= static_cast<int>(TDistortField::F00)) {
    const int element = index - static_cast<int>(TDistortField::F00);
    return &Warp(element / 3, element % 3);
  }
  cv::Matx33f& camera = index < 8 ? CameraLeft : CameraRight;
  cv::Vec4f& distortion = index < 8 ? DistLeft : DistRight;
  switch (index % 8) {
    case 0:
    case 1:
    case 2:
    case 3:
      return &distortion[index % 8];
    case 4:
      return &camera(0, 0);
    case 5:
      return &camera(0, 2);
    case 6:
      return &camera(1, 1);
    default:
      return &camera(1, 2);
  }
}

void TDistortFilter::SetField(TDistortField field, float value) {
  if (dialog_) dialog_->WriteField(field, value);
  *FieldSlot(field) = IsCoefficient(field) ? value / kCoefficientUnit : value;
}

float TDistortFilter::FieldValue(TDistortField field) const {
  const float stored = *const_cast<TDistortFilter*>(this)->FieldSlot(field);
  return IsCoefficient(field) ? stored * kCoefficientUnit : stored;
}

void TDistortFilter::SetF(int row, int column, float value) {
  SetField(static_cast<TDistortField>(static_cast<int>(TDistortField::F00) + row * 3 + column), value);
}

void TDistortFilter::SetMode(int mode) {
  if (dialog_) dialog_->WriteMode(mode);
  Mode = mode;
  refusal_.clear();
}

void TDistortFilter::ShowSetup() {
  if (dialog_) dialog_->ShowModeless();
}

void TDistortFilter::Log(const std::string& line) {
  if (Calibration.LogMemo != nullptr) Calibration.LogMemo->AppendLine(line);
}

void TDistortFilter::SetBoardSize(int width, int height) {
  const bool taken = Calibration.SetBoardSize(width, height);
  if (dialog_) dialog_->WriteBoardSize(Calibration.BoardWidth, Calibration.BoardHeight);
  if (taken) ShowCoverage();
}

void TDistortFilter::ShowCoverage() {
  if (dialog_) dialog_->ShowCoverage(Calibration.Coverage());
}

void TDistortFilter::PushView() {
  Calibration.PushView();
  ShowCoverage();
}

void TDistortFilter::DropWorstView() {
  Calibration.DropWorstView();
  ShowCoverage();
}

bool TDistortFilter::SaveViews(const std::string& folder) { return ::SaveViews(Calibration, folder); }

bool TDistortFilter::LoadViews(const std::string& folder) {
  if (views_loader_) {
    Log("Load views: a load still runs");
    return false;
  }
  std::string why;
  const std::optional<TViewsSettings> settings = ReadViewsSettings(folder, why);
  if (!settings) {
    Log(why);
    return false;
  }
  std::vector<std::string> names = ViewPairNames(folder);
  if (names.empty()) {
    Log("Load views: no image pairs (NNL.png, NNR.png) in " + folder);
    return false;
  }
  Log(FormatLine("Load views: searching %d pairs of %s", static_cast<int>(names.size()), folder.c_str()));
  views_loader_ =
      std::make_unique<TViewsLoader>(Calibration.CameraCount(), *settings, folder, std::move(names));
  return true;
}

bool TDistortFilter::LoadViewsStep() {
  if (!views_loader_) return false;
  TViewsLoader::Progress progress = views_loader_->Poll();
  for (const std::string& line : progress.Lines) Log(line);
  if (!progress.Finished) {
    if (dialog_)
      dialog_->ShowStatus(
          FormatLine("Loading views: %d of %d pairs searched", progress.Searched, progress.Pairs));
    return true;
  }
  TakeLoadedViews(views_loader_->Result());
  views_loader_.reset();
  if (dialog_) dialog_->ShowStatus("");
  return false;
}

void TDistortFilter::TakeLoadedViews(TCalibrationFilter& loaded) {
  if (loaded.Cameras.empty() || loaded.Cameras[0].ViewCount == 0) return;
  Calibration.TakeViews(std::move(loaded));
  if (dialog_) {
    dialog_->WriteBoardSize(Calibration.BoardWidth, Calibration.BoardHeight);
    dialog_->WriteSubPixel(Calibration.SubPixel);
    dialog_->WriteSquareSize(Calibration.SquareSize_mm);
  }
  ShowCoverage();
}

void TDistortFilter::SetSubPixel(bool on) {
  if (dialog_) dialog_->WriteSubPixel(on);
  Calibration.SubPixel = on;
}

void TDistortFilter::SetSquareSize(double mm) {
  if (std::isfinite(mm) && mm > 0 && mm <= TCalibrationFilter::MaxSquareSize_mm) {
    Calibration.SquareSize_mm = mm;
  } else {
    Log(FormatLine("Square size %g mm refused: it must be above 0 and at most %g", mm,
                   TCalibrationFilter::MaxSquareSize_mm));
  }
  if (dialog_) dialog_->WriteSquareSize(Calibration.SquareSize_mm);
}

void TDistortFilter::SetCameraModel(bool left, const cv::Matx33d& camera, const cv::Vec4d& distortion) {
  const int base = left ? 0 : 8;
  const auto set = [&](TDistortField field, double value) {
    SetField(static_cast<TDistortField>(static_cast<int>(field) + base), static_cast<float>(value));
  };
  set(TDistortField::Lfx, camera(0, 0));
  set(TDistortField::Lcx, camera(0, 2));
  set(TDistortField::Lfy, camera(1, 1));
  set(TDistortField::Lcy, camera(1, 2));
  set(TDistortField::Lk1, distortion[0] * kCoefficientUnit);
  set(TDistortField::Lk2, distortion[1] * kCoefficientUnit);
  set(TDistortField::Lp1, distortion[2] * kCoefficientUnit);
  set(TDistortField::Lp2, distortion[3] * kCoefficientUnit);
}

void TDistortFilter::SetWarp(const cv::Matx33d& warp) {
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) SetF(row, column, static_cast<float>(warp(row, column)));
  }
}

void TDistortFilter::StereoCalibrate() {
  std::string why;
  std::optional<TStereoCalibration> result = CalibrateStereo(Calibration, why);
  if (!result) {
    Log(why);
    return;
  }
  for (const std::string& line : StereoReport(*result)) Log(line);
  Calibration.ReportViewErrors(result->ViewErrors);
  // The warp assumes the left image undistorted with the pair's own left
  // model, so both models in force are the pair's.
  SetCameraModel(true, result->K1, result->D1);
  SetCameraModel(false, result->K2, result->D2);
  SetWarp(result->Warp);
  StereoResult = std::move(result);
}

bool TDistortFilter::SaveCalibration(const std::string& path) {
  TStereoCalibration record = StereoResult.value_or(TStereoCalibration{});
  // What is in force is what the operator saves, typed values included.
  record.K1 = CameraLeft;
  record.D1 = DistLeft;
  record.K2 = CameraRight;
  record.D2 = DistRight;
  record.Warp = Warp;
  record.BoardSize = cv::Size(Calibration.BoardWidth, Calibration.BoardHeight);
  if (record.ImageSize.empty()) record.ImageSize = Calibration.Cameras[0].ImageSize;
  if (record.ImageSize.empty()) record.ImageSize = loaded_image_size_;
  if (!StereoResult && Calibration.SquareSize_mm > 0) record.SquareSize_mm = Calibration.SquareSize_mm;
  std::string why;
  if (!WriteCalibrationAs(path, record, why)) {
    Log(why);
    return false;
  }
  Log("Saved " + path);
  return true;
}

bool TDistortFilter::LoadCalibration(const std::string& path) {
  std::string why;
  std::optional<TStereoCalibration> record = ReadCalibrationAs(path, why);
  if (!record) {
    Log(why);
    return false;
  }
  // Files of other tools keep no board; some no image size.
  if (!record->BoardSize.empty()) SetBoardSize(record->BoardSize.width, record->BoardSize.height);
  if (record->ImageSize.empty()) record->ImageSize = Calibration.Cameras[0].ImageSize;
  if (record->ImageSize.empty()) record->ImageSize = loaded_image_size_;
  SetCameraModel(true, record->K1, record->D1);
  SetCameraModel(false, record->K2, record->D2);
  SetWarp(record->Warp);
  if (record->SquareSize_mm > 0) SetSquareSize(record->SquareSize_mm);
  loaded_image_size_ = record->ImageSize;
  const bool pair = RectificationRefusal(*record).empty();
  const TCalibrationFormat format = FormatOfPath(path);
  const std::string of = format == TCalibrationFormat::Workbench
                             ? " of " + record->Date
                             : std::string(" (") + FormatName(format) + ")";
  Log("Loaded " + path + of + (pair ? "" : "; it holds no stereo calibration"));
  // The models changed: an earlier pair calibration no longer matches them.
  StereoResult.reset();
  if (pair) StereoResult = std::move(record);
  return true;
}

void TDistortFilter::TakeCalibration() {
  const TCalibrationFilter::Camera& left = Calibration.Cameras[0];
  // Before a calibration there is no camera model to take: a zero focal
  // length would turn every frame into garbage.
  if (!left.Calibrated()) {
    Log("Get Parameter: calibrate first");
    return;
  }
  CameraLeft = cv::Matx33f(left.CameraMatrix);
  DistLeft = cv::Vec4f(left.Distortion);
}

void TDistortFilter::RefreshSetup() {
  if (dialog_) {
    for (const TDistortField field :
         {TDistortField::Lk1, TDistortField::Lk2, TDistortField::Lp1, TDistortField::Lp2, TDistortField::Lfx,
          TDistortField::Lcx, TDistortField::Lfy, TDistortField::Lcy}) {
      dialog_->WriteField(field, FieldValue(field));
    }
  }
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) SetF(row, column, GetF(row, column));
  }
}

void TDistortFilter::AllocateOutputs() {
  TVidFilter::AllocateOutputs();
  if (MainWindow == nullptr) return;
  // Maps do not depend on the colour nature: a grey/colour change keeps
  // them. Maps of a new size are black until "Init" fills them.
  for (const Side& side : {LeftSide(), RightSide()}) {
    const IplImage* current =
        side.index == 0 ? MainWindow->CurrentLeftImage() : MainWindow->CurrentRightImage();
    if (current == nullptr || side.output == nullptr) continue;
    FitBuffer(side.map_x, SizeOf(side.output), 1, IPL_DEPTH_32F);
    FitBuffer(side.map_y, SizeOf(side.output), 1, IPL_DEPTH_32F);
    FitBuffer(Scratch, SizeOf(side.output), 1);
  }
}

void TDistortFilter::InitUndistortMaps() {
  for (const Side& side : {LeftSide(), RightSide()}) {
    if (side.map_x != nullptr && side.map_y != nullptr) {
      InitSideMaps(side.camera, side.distortion, side.map_x, side.map_y);
    }
  }
}

ImagePair TDistortFilter::ProcessPair(const ImagePair& input) {
  ImagePair output = TVidFilter::ProcessPair(input);
  if (!Enabled) return output;
  IplImage* const left = input.Left();
  IplImage* const right = input.Right();
  switch (Mode) {
    case kCalibrateAndRectify:
    case kCalibrateOnly:
      if (left != nullptr) output.Left() = Undistort(LeftSide(), left, OutLeft);
      if (right != nullptr) {
        output.Right() =
            Mode == kCalibrateAndRectify ? Rectify(right) : Undistort(RightSide(), right, OutRight);
      }
      output.Geometry = Mode == kCalibrateAndRectify ? TPairGeometry::Warped : TPairGeometry::Undistorted;
      break;
    case kShowDistortionMap:
      if (left != nullptr) output.Left() = ShowMaps(LeftSide(), left);
      if (right != nullptr) output.Right() = ShowMaps(RightSide(), right);
      output.Geometry = TPairGeometry::NotCameraImages;
      break;
    case kSearchForCheckerboard:
      SearchBoard(output);
      return output;
    case kRectifyBoth:
      RectifyBoth(output);
      return output;
    default:
      return output;
  }
  // The images no longer are what a rectification before made of them.
  output.Rectification = nullptr;
  return output;
}

void TDistortFilter::RectifyBoth(ImagePair& output) {
  if (!StereoResult) {
    LogRefusal("Rectify both: no stereo calibration in force; use \"Stereo Calibrate\" or \"Load…\"");
    return;
  }
  IplImage* const left = output.Left();
  IplImage* const right = output.Right();
  if (left == nullptr || right == nullptr) {
    LogRefusal("Rectify both: a pair of two images is needed");
    return;
  }
  FitBuffer(OutLeft, SizeOf(left), left->nChannels);
  FitBuffer(OutRight, SizeOf(right), right->nChannels);
  cv::Mat out_left = cv::cvarrToMat(OutLeft), out_right = cv::cvarrToMat(OutRight);
  std::string why;
  if (!rectifier_.Rectify(*StereoResult, cv::cvarrToMat(left), cv::cvarrToMat(right), out_left, out_right,
                          why)) {
    LogRefusal("Rectify both: " + why);
    return;
  }
  refusal_.clear();
  output.Left() = OutLeft;
  output.Right() = OutRight;
  output.Geometry = TPairGeometry::Rectified;
  output.Rectification = rectifier_.RectifiedWith();
}

void TDistortFilter::LogRefusal(const std::string& why) {
  if (why == refusal_) return;
  refusal_ = why;
  Log(why);
}

IplImage* TDistortFilter::Undistort(const Side& side, IplImage* input, IplImage*& target) {
  FitBuffer(target, SizeOf(input), input->nChannels);
  cv::Mat result = cv::cvarrToMat(target);
  side.cache.Apply(cv::cvarrToMat(input), result, side.camera, side.distortion);
  return target;
}

IplImage* TDistortFilter::Rectify(IplImage* input) {
  // A colour frame is warped in colour: the scratch image takes its format.
  Undistort(RightSide(), input, Scratch);
  FitBuffer(OutRight, SizeOf(input), input->nChannels);
  cv::Mat result = cv::cvarrToMat(OutRight);
  cv::warpPerspective(cv::cvarrToMat(Scratch), result, Warp, result.size(),
                      cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  return OutRight;
}

IplImage* TDistortFilter::ShowMaps(const Side& side, IplImage* input) {
  FitBuffer(side.output, SizeOf(input), input->nChannels);
  // The first frame of a filter made before any gets maps as construction
  // would have made them; maps of another frame size are made again, black
  // until "Init".
  const bool first = side.map_x == nullptr || side.map_y == nullptr;
  FitBuffer(side.map_x, SizeOf(input), 1, IPL_DEPTH_32F);
  FitBuffer(side.map_y, SizeOf(input), 1, IPL_DEPTH_32F);
  if (first) InitSideMaps(side.camera, side.distortion, side.map_x, side.map_y);
  DrawMapIntoChannel(side.map_x, side.output, 0, side.output->width);
  // A grey output has room for the x map only.
  if (side.output->nChannels > 1) DrawMapIntoChannel(side.map_y, side.output, 1, side.output->height);
  return side.output;
}

void TDistortFilter::SearchBoard(ImagePair& output) {
  // The search draws into the filter's own copy of each frame, never into
  // the camera's image memory.
  std::vector<IplImage*> frames(2, nullptr);
  for (const Side& side : {LeftSide(), RightSide()}) {
    IplImage* const frame = output.Images[side.index];
    if (frame == nullptr) continue;
    FitBuffer(side.output, SizeOf(frame), frame->nChannels);
    iplCopy(frame, side.output);
    frames[side.index] = side.output;
    output.Images[side.index] = side.output;
  }
  Calibration.FindCorners(frames);
  Calibration.AutoPushStep(MomentOf(output.Stamps));
  for (int index = 0; index < 2; ++index) {
    if (frames[index] != nullptr) {
      MarkViewCorners(Calibration.Cameras[index], Calibration.CornersPerView(), frames[index]);
    }
  }
  if (dialog_) {
    std::string status =
        FormatLine("Found %d %d", Calibration.Cameras[0].CornerCount, Calibration.Cameras[1].CornerCount);
    if (!Calibration.AutoPushState.empty()) status += "; auto push: " + Calibration.AutoPushState;
    dialog_->ShowStatus(status);
  }
  ShowCoverage();
}
