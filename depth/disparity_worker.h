#pragma once

// The matcher's own thread: it takes the newest pair when it is free (one
// pair waits at most; a newer one replaces it) and keeps the newest finished
// map. Nothing the window does waits for a match.

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Video/vidclass/frame_stamp.h"
#include "depth/depth_measure.h"
#include "depth/disparity_matcher.h"
#include "depth/disparity_post.h"

// One rectified pair to match, owned by the job.
struct TDisparityJob {
  cv::Mat LeftGrey;
  cv::Mat RightGrey;
  // The rectified left image as the chain had it, for the view and the files.
  cv::Mat Left;
  TDisparitySettings Settings;
  std::shared_ptr<const TStereoCalibration> Calibration;
  std::array<FrameStamp, 2> Stamps{};
};

struct TDisparityResult {
  TDepthSnapshot Snapshot;
  TDisparitySettings Settings;
  std::array<FrameStamp, 2> Stamps{};
  double Matcher_ms = 0;
  double MapsPerSecond = 0;
  double ValidShare = 0;
  // Pixels the filling gave a value (CV_8U, 255); empty without filling.
  cv::Mat Filled;
  // What each step after matching took, and in all.
  std::vector<TPostStageTime> PostTimes;
  double Post_ms = 0;
  // Why a step after matching could not run, or empty.
  std::string PostNote;
  // What the matcher refused, empty when the map was made.
  std::string Error;
  // Counts the maps finished; the window tells a new one by it.
  uint64_t Sequence = 0;
};

class TDisparityWorker {
 public:
  TDisparityWorker();
  // Ends the thread after the map in hand.
  ~TDisparityWorker();
  TDisparityWorker(const TDisparityWorker&) = delete;
  TDisparityWorker& operator=(const TDisparityWorker&) = delete;

  // Leaves the job for the thread, replacing one still waiting.
  void Submit(TDisparityJob job);
  // The newest finished map; null before the first.
  std::shared_ptr<const TDisparityResult> Latest() const;
  // Waits until no job waits or is in hand (for tests and saving the last
  // map of a stopped rig); false on time-out.
  bool WaitIdle(std::chrono::milliseconds timeout) const;

 private:
  void Run();
  std::shared_ptr<TDisparityResult> Match(TDisparityJob& job);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::optional<TDisparityJob> waiting_;
  bool busy_ = false;
  bool stop_ = false;
  std::shared_ptr<const TDisparityResult> latest_;
  // Only the thread touches these.
  TDisparityMatcher matcher_;
  TDisparityPost post_;
  std::deque<std::chrono::steady_clock::time_point> finished_;
  uint64_t sequence_ = 0;
  std::thread thread_;
};
