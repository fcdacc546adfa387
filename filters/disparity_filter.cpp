#include "filters/disparity_filter.h"

#include <opencv2/core/core_c.h>

#include <opencv2/imgproc.hpp>

#include "filters/disparity_view.h"
#include "filters/mainwindow_link.h"
#include "filters/ucalibfilter.h"

namespace {

cv::Mat Grey(const cv::Mat& image) {
  cv::Mat grey;
  if (image.channels() == 1) {
    image.copyTo(grey);
  } else {
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  }
  return grey;
}

// Keys of the settings beside the ones every filter keeps.
struct SettingKey {
  const char* key;
  int TDisparitySettings::*value;
};
constexpr SettingKey kSettingKeys[] = {
    {"NumDisparities", &TDisparitySettings::NumDisparities},
    {"MinDisparity", &TDisparitySettings::MinDisparity},
    {"BlockSize", &TDisparitySettings::BlockSize},
    {"UniquenessRatio", &TDisparitySettings::UniquenessRatio},
    {"SpeckleWindow", &TDisparitySettings::SpeckleWindowSize},
    {"SpeckleRange", &TDisparitySettings::SpeckleRange},
    {"P1", &TDisparitySettings::PenaltySmall},
    {"P2", &TDisparitySettings::PenaltyLarge},
};

}  // namespace

TDisparityFilter::TDisparityFilter(CreateKey key)
    : TVidFilter(key), worker_(std::make_unique<TDisparityWorker>()) {
  if (MainWindow != nullptr) dialog_ = MainWindow->MakeDisparitySetup(*this);
  Setup = dialog_.get();
  if (dialog_) dialog_->WriteSettings(Settings);
}

// The worker ends first: it may still be matching a pair.
TDisparityFilter::~TDisparityFilter() { worker_.reset(); }

void TDisparityFilter::ShowSetup() {
  if (dialog_) dialog_->ShowModeless();
}

void TDisparityFilter::Log(const std::string& line) {
  if (dialog_) {
    dialog_->Memo().AppendLine(line);
  } else {
    WriteLog(line);
  }
}

void TDisparityFilter::LogRefusal(const std::string& why) {
  if (why == refusal_) return;
  refusal_ = why;
  Log(why);
}

bool TDisparityFilter::SetSettings(const TDisparitySettings& settings) {
  const std::string problem = DisparitySettingsProblem(settings);
  if (problem.empty()) {
    Settings = settings;
  } else {
    Log(problem);
  }
  if (dialog_) dialog_->WriteSettings(Settings);
  return problem.empty();
}

void TDisparityFilter::LoadSettings(TSettingsStore& store, const std::string& section) {
  TVidFilter::LoadSettings(store, section);
  TDisparitySettings read = Settings;
  read.Matcher = static_cast<TMatcherKind>(
      std::clamp(store.ReadInteger(section, "Matcher", static_cast<int>(Settings.Matcher)), 0, 2));
  for (const SettingKey& key : kSettingKeys)
    read.*key.value = store.ReadInteger(section, key.key, read.*key.value);
  SetSettings(read);
}

void TDisparityFilter::SaveSettings(TSettingsStore& store, const std::string& section) {
  TVidFilter::SaveSettings(store, section);
  store.WriteInteger(section, "Matcher", static_cast<int>(Settings.Matcher));
  for (const SettingKey& key : kSettingKeys) store.WriteInteger(section, key.key, Settings.*key.value);
}

ImagePair TDisparityFilter::ProcessPair(const ImagePair& input) {
  ImagePair output = TVidFilter::ProcessPair(input);
  if (!Enabled) return output;
  cv::Mat left, right;
  const TStereoCalibration* calibration = nullptr;
  if (!Rectified(input, left, right, calibration)) return output;
  refusal_.clear();
  Submit(left, right, calibration, input);
  ShowNewestMap();
  // Left pane: the rectified left image, at the cameras' rate.
  FitBuffer(OutLeft, CvSize{left.cols, left.rows}, left.channels());
  cv::Mat shown_left = cv::cvarrToMat(OutLeft);
  left.copyTo(shown_left);
  output.Left() = OutLeft;
  output.Right() = OutRight;
  output.Rectification = nullptr;
  return output;
}

bool TDisparityFilter::Rectified(const ImagePair& input, cv::Mat& left, cv::Mat& right,
                                 const TStereoCalibration*& calibration) {
  if (input.Left() == nullptr || input.Right() == nullptr) {
    LogRefusal("Disparity: a pair of two images is needed");
    return false;
  }
  left = cv::cvarrToMat(input.Left());
  right = cv::cvarrToMat(input.Right());
  if (left.size() != right.size() || left.type() != right.type()) {
    LogRefusal(
        FormatLine("Disparity: the pair's images differ (%d x %d with %d channels beside %d x %d with %d)",
                   left.cols, left.rows, left.channels(), right.cols, right.rows, right.channels()));
    return false;
  }
  calibration = input.Rectification;
  if (calibration != nullptr) return true;
  calibration = MainWindow != nullptr ? MainWindow->StereoCalibrationInForce() : nullptr;
  if (calibration == nullptr) return true;  // taken as rectified
  std::string why;
  if (!rectifier_.Rectify(*calibration, left, right, rectified_left_, rectified_right_, why)) {
    LogRefusal("Disparity: " + why);
    return false;
  }
  left = rectified_left_;
  right = rectified_right_;
  return true;
}

void TDisparityFilter::Submit(const cv::Mat& left, const cv::Mat& right,
                              const TStereoCalibration* calibration, const ImagePair& input) {
  TDisparityJob job;
  job.LeftGrey = Grey(left);
  job.RightGrey = Grey(right);
  job.Left = left.clone();
  job.Settings = Settings;
  if (calibration != nullptr) job.Calibration = *calibration;
  job.Stamps = input.Stamps;
  worker_->Submit(std::move(job));
}

void TDisparityFilter::ShowNewestMap() {
  std::shared_ptr<const TDisparityResult> newest = worker_->Latest();
  if (!newest || (shown_ && newest->Sequence == shown_->Sequence)) {
    if (OutRight == nullptr && OutLeft != nullptr) FitBuffer(OutRight, SizeOf(OutLeft), 3);
    return;
  }
  shown_ = newest;
  if (!newest->Error.empty()) {
    LogRefusal(newest->Error);
    return;
  }
  const cv::Mat& map = newest->Snapshot.Disparity16;
  FitBuffer(OutRight, CvSize{map.cols, map.rows}, 3);
  cv::Mat view = cv::cvarrToMat(OutRight);
  ColouriseDisparity(map, newest->Settings, view);
  const auto& calibration = newest->Snapshot.Calibration;
  DrawLegend(view, newest->Settings, calibration ? &*calibration : nullptr);
  if (dialog_) {
    dialog_->ShowStatus(FormatLine("Matcher %.1f ms, %.1f maps/s, valid %.1f %%%s", newest->Matcher_ms,
                                   newest->MapsPerSecond, 100.0 * newest->ValidShare,
                                   calibration ? "" : ", no calibration: pair taken as rectified"));
  }
}

bool TDisparityFilter::SaveDepth(const std::string& stem) {
  if (!shown_ || shown_->Snapshot.Disparity16.empty()) {
    Log("Save depth: no disparity map yet");
    return false;
  }
  std::string why;
  if (!SaveDepthFiles(stem, shown_->Snapshot, why)) {
    Log(why);
    return false;
  }
  const auto& calibration = shown_->Snapshot.Calibration;
  const bool depth = calibration && calibration->SquareSize_mm > 0;
  Log("Saved " + stem + "_disparity.png, " + stem + "_left.png" +
      (depth ? ", " + stem + "_depth.png, " + stem + ".ply"
             : std::string(" (no depth without a calibration in mm)")));
  return true;
}
