#include "depth/disparity_worker.h"

namespace {

// Maps per second are counted over this span.
constexpr std::chrono::seconds kRateSpan{2};

}  // namespace

TDisparityWorker::TDisparityWorker() : thread_([this] { Run(); }) {}

TDisparityWorker::~TDisparityWorker() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TDisparityWorker::Submit(TDisparityJob job) {
  {
    const std::lock_guard lock(mutex_);
    waiting_ = std::move(job);
  }
  changed_.notify_all();
}

std::shared_ptr<const TDisparityResult> TDisparityWorker::Latest() const {
  const std::lock_guard lock(mutex_);
  return latest_;
}

bool TDisparityWorker::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return !busy_ && !waiting_; });
}

void TDisparityWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || waiting_.has_value(); });
    if (stop_) return;
    TDisparityJob job = std::move(*waiting_);
    waiting_.reset();
    busy_ = true;
    lock.unlock();
    std::shared_ptr<TDisparityResult> result = Match(job);
    lock.lock();
    latest_ = std::move(result);
    busy_ = false;
    changed_.notify_all();
  }
}

std::shared_ptr<TDisparityResult> TDisparityWorker::Match(TDisparityJob& job) {
  auto result = std::make_shared<TDisparityResult>();
  const auto start = std::chrono::steady_clock::now();
  // What the steps after matching need of the pair alone is made beside the
  // matching, on the cores the matcher leaves idle between its parts.
  std::string beside_error;
  std::thread beside;
  if (job.Settings.Post.LeftRightCheck) {
    beside = std::thread([&] {
      try {
        post_.PrepareFromPair(job.Settings, job.LeftGrey, job.RightGrey);
      } catch (const cv::Exception& error) {
        beside_error = "Disparity failed after matching: " + error.err;
      }
    });
  }
  try {
    matcher_.Compute(job.Settings, job.LeftGrey, job.RightGrey, result->Snapshot.Disparity16);
  } catch (const cv::Exception& error) {
    // Nothing may leave this thread: the window reports it.
    result->Snapshot.Disparity16.release();
    result->Error = "Disparity failed: " + error.err;
  }
  if (beside.joinable()) beside.join();
  if (result->Error.empty() && !beside_error.empty()) {
    result->Snapshot.Disparity16.release();
    result->Error = beside_error;
  }
  const auto matched = std::chrono::steady_clock::now();
  if (result->Error.empty()) {
    try {
      post_.Apply(job.Settings, job.LeftGrey, job.RightGrey, job.Left, job.Calibration.get(),
                  result->Snapshot.Disparity16, result->Filled, result->PostTimes, result->PostNote);
    } catch (const cv::Exception& error) {
      result->Snapshot.Disparity16.release();
      result->Error = "Disparity failed after matching: " + error.err;
    }
  }
  const auto end = std::chrono::steady_clock::now();
  finished_.push_back(end);
  while (end - finished_.front() > kRateSpan) finished_.pop_front();
  const double span_s = std::chrono::duration<double>(end - finished_.front()).count();
  result->MapsPerSecond = span_s > 0 ? static_cast<double>(finished_.size() - 1) / span_s : 0;
  result->Matcher_ms = std::chrono::duration<double, std::milli>(matched - start).count();
  result->Post_ms = std::chrono::duration<double, std::milli>(end - matched).count();
  if (result->Error.empty()) result->ValidShare = ValidShare(result->Snapshot.Disparity16, job.Settings);
  result->Snapshot.MinDisparity = job.Settings.MinDisparity;
  result->Snapshot.Left = std::move(job.Left);
  result->Snapshot.Calibration = std::move(job.Calibration);
  result->Settings = job.Settings;
  result->Stamps = job.Stamps;
  result->Sequence = ++sequence_;
  return result;
}
