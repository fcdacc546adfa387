#pragma once

// The depth stage of the chain: matches the rectified pair on a thread of its
// own and shows the rectified left image beside the newest disparity map.
// A pair rectified by "Rectify both" is taken as it is; with a stereo
// calibration in force and no step before that changed the pair, it rectifies
// the pair itself; a pair only undistorted before is refused (rectifying it
// would undistort it twice); without any calibration the pair is taken as
// already rectified.

#include <memory>
#include <optional>
#include <string>

#include "depth/depth_quality.h"
#include "depth/disparity_matcher.h"
#include "depth/disparity_worker.h"
#include "filters/filter_setup.h"
#include "filters/stereo_rectifier.h"
#include "filters/vidfilters.h"

// What the disparity filter reaches of its dialog.
class TDisparitySetupLink : public TFilterSetup {
 public:
  virtual void WriteSettings(const TDisparitySettings& settings) = 0;
  virtual void ShowStatus(const std::string& text) = 0;
  virtual TLogMemo& Memo() = 0;
  virtual void ShowModeless() = 0;
};

class TDisparityFilter : public TVidFilter {
 public:
  explicit TDisparityFilter(CreateKey key);
  ~TDisparityFilter() override;

  ImagePair ProcessPair(const ImagePair& input) override;
  void ShowSetup() override;
  void LoadSettings(TSettingsStore& store, const std::string& section) override;
  void SaveSettings(TSettingsStore& store, const std::string& section) override;

  // Takes settings that can run and writes what is in force back into the
  // dialog; others leave a line in the log and change nothing.
  bool SetSettings(const TDisparitySettings& settings);
  // The map the panes show now; null before the first.
  std::shared_ptr<const TDisparityResult> ShownMap() const { return shown_; }
  // The depth files of the map shown (see SaveDepthFiles); false with a line
  // in the log.
  bool SaveDepth(const std::string& stem);
  // The figures of a rectangle of the map shown (image pixels), kept for the
  // log line of "Save depth…"; the line to show.
  std::string MeasureRegion(const cv::Rect& pixels);
  // The distance the operator typed for the region's target (mm), 0 for none.
  void SetTrueDistance(double distance_mm) { true_distance_mm_ = distance_mm; }
  double TrueDistance() const { return true_distance_mm_; }
  // Waits until the matcher has nothing left to do; false on time-out.
  bool WaitForMatcher(std::chrono::milliseconds timeout) const { return worker_->WaitIdle(timeout); }

  TDisparitySettings Settings;

 private:
  // The pair as the matcher takes it; false (with a line) when it cannot.
  bool Rectified(const ImagePair& input, cv::Mat& left, cv::Mat& right,
                 std::shared_ptr<const TStereoCalibration>& calibration);
  void Submit(const cv::Mat& left, const cv::Mat& right,
              std::shared_ptr<const TStereoCalibration> calibration, const ImagePair& input);
  void ShowNewestMap();
  void Log(const std::string& line);
  // Logs a refusal once, until things change.
  void LogRefusal(const std::string& why);

  std::unique_ptr<TDisparitySetupLink> dialog_;
  TStereoRectifier rectifier_;
  cv::Mat rectified_left_;
  cv::Mat rectified_right_;
  std::unique_ptr<TDisparityWorker> worker_;
  std::shared_ptr<const TDisparityResult> shown_;
  bool shown_calibrated_ = false;
  std::string refusal_;
  std::string post_note_;
  std::optional<cv::Rect> region_;
  double true_distance_mm_ = 0;
};
