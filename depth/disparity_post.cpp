#include "depth/disparity_post.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc/edge_filter.hpp>
#include <optional>

#include "filters/parallel_loop.h"
#include "filters/ucalibfilter.h"

namespace {

// The right view's blocks (at half the size): large enough for a verdict on
// noisy texture.
constexpr int kRightViewBlock = 7;
constexpr int kRightViewTexture = 10;
constexpr int kRightViewUniqueness = 10;

// The right view's range at half the size: at least the library's 16.
int HalfMinDisparity(const TDisparitySettings& s) {
  return s.MinDisparity >= 0 ? s.MinDisparity / 2 : (s.MinDisparity - 1) / 2;
}
int HalfNumDisparities(const TDisparitySettings& s) {
  const int wanted =
      (s.NumDisparities / 2 + kDisparityFraction - 1) / kDisparityFraction * kDisparityFraction;
  return std::max(wanted, kDisparityFraction);
}

cv::Ptr<cv::StereoMatcher> MakeRightViewMatcher(const TDisparitySettings& s) {
  cv::Ptr<cv::StereoBM> bm = cv::StereoBM::create(HalfNumDisparities(s), kRightViewBlock);
  bm->setMinDisparity(HalfMinDisparity(s));
  // No verdict where the right image is too plain or the best match is not
  // clearly the best: there the left match stands.
  bm->setTextureThreshold(kRightViewTexture);
  bm->setUniquenessRatio(kRightViewUniqueness);
  bm->setSpeckleWindowSize(0);
  bm->setDisp12MaxDiff(-1);
  return bm;
}

// A run of holes between matches that differ by more than this lies where
// the nearer surface hides the farther one from the other camera.
constexpr int kOcclusionStep = 2 * kDisparityFraction;
// A match the smoothing would move further than a pixel is kept as it is.
constexpr float kSmoothingReach = kDisparityFraction;

// The matches on either side of the holes from `begin` to `end` of a row;
// none where the run meets the end of the row or no match.
std::optional<std::pair<int16_t, int16_t>> RunEnds(const int16_t* values, int begin, int end, int width,
                                                   int min_disparity) {
  if (begin == 0 || end == width) return std::nullopt;
  const int16_t before = values[begin - 1], after = values[end];
  if (!IsMatched(before, min_disparity) || !IsMatched(after, min_disparity)) return std::nullopt;
  return std::pair{before, after};
}

// A hole's value from its smoothed estimate and the matches that end its run.
int16_t HoleValue(float smooth, bool smoothed, const std::optional<std::pair<int16_t, int16_t>>& ends) {
  if (!ends) return cv::saturate_cast<int16_t>(smooth);
  const auto [first, second] = *ends;
  const int16_t low = std::min(first, second), high = std::max(first, second);
  if (high - low > kOcclusionStep) {
    // Between two surfaces: the one the guide's edges put it on, never a
    // depth between them; the farther one without an estimate.
    if (!smoothed) return low;
    return std::abs(smooth - low) < std::abs(smooth - high) ? low : high;
  }
  // Within one surface: no further from its ends than a pixel.
  if (!smoothed) return static_cast<int16_t>((first + second) / 2);
  return cv::saturate_cast<int16_t>(
      std::clamp(smooth, float(low - kDisparityFraction), float(high + kDisparityFraction)));
}

}  // namespace

void TRightViewMatcher::Compute(const TDisparitySettings& settings, const cv::Mat& left_grey,
                                const cv::Mat& right_grey, cv::Mat& right16) {
  if (!matcher_ || made_for_.NumDisparities != settings.NumDisparities ||
      made_for_.MinDisparity != settings.MinDisparity || made_for_.BlockSize != settings.BlockSize) {
    matcher_ = MakeRightViewMatcher(settings);
    made_for_ = settings;
  }
  // Matched at half the size, an eighth of the work; mirrored, the right
  // image is the one searched to the left in.
  const cv::Size half((left_grey.cols + 1) / 2, (left_grey.rows + 1) / 2);
  cv::resize(right_grey, small_right_, half, 0, 0, cv::INTER_AREA);
  cv::resize(left_grey, small_left_, half, 0, 0, cv::INTER_AREA);
  cv::flip(small_right_, mirrored_right_, 1);
  cv::flip(small_left_, mirrored_left_, 1);
  matcher_->compute(mirrored_right_, mirrored_left_, mirrored_map_);
  cv::flip(mirrored_map_, right16, 1);
  // Back to disparities of the whole image, "no match" as the left map has it.
  const int half_min = HalfMinDisparity(settings);
  parallel::ForEachPart(cv::Range(0, right16.rows), [&](const cv::Range& rows) {
    for (int y = rows.start; y < rows.end; ++y) {
      auto* values = right16.ptr<int16_t>(y);
      for (int x = 0; x < right16.cols; ++x)
        values[x] = IsMatched(values[x], half_min) ? static_cast<int16_t>(2 * values[x])
                                                   : NoMatch(settings.MinDisparity);
    }
  });
}

int DropRightDisagreement(cv::Mat& disparity16, const cv::Mat& right16, int min_disparity, int max_diff_px) {
  const int16_t none = NoMatch(min_disparity);
  // A right view of half the size is a pixel coarser.
  const int scale = right16.cols > 0 && right16.cols < disparity16.cols ? 2 : 1;
  const int largest_diff = (max_diff_px + scale - 1) * kDisparityFraction;
  int dropped = 0;
  for (int y = 0; y < disparity16.rows; ++y) {
    int16_t* values = disparity16.ptr<int16_t>(y);
    const int16_t* right = right16.ptr<int16_t>(std::min(y / scale, right16.rows - 1));
    for (int x = 0; x < disparity16.cols; ++x) {
      if (!IsMatched(values[x], min_disparity)) continue;
      const int partner = (x - cvRound(values[x] / static_cast<double>(kDisparityFraction))) / scale;
      if (partner < 0 || partner >= right16.cols || !IsMatched(right[partner], min_disparity)) continue;
      if (std::abs(values[x] - right[partner]) > largest_diff) {
        values[x] = none;
        ++dropped;
      }
    }
  }
  return dropped;
}

cv::Mat RowTexture(const cv::Mat& grey, int block) {
  cv::Mat step;
  // Half the difference of the two row neighbours: one step between pixels.
  cv::Sobel(grey, step, CV_32F, 1, 0, 1, 0.5, 0, cv::BORDER_REPLICATE);
  step = cv::abs(step);
  cv::Mat texture;
  cv::boxFilter(step, texture, CV_32F, {block, block}, {-1, -1}, true, cv::BORDER_REPLICATE);
  return texture;
}

int DropTextureless(cv::Mat& disparity16, const cv::Mat& left_grey, int block, int threshold,
                    int min_disparity) {
  if (threshold <= 0) return 0;
  const cv::Mat texture = RowTexture(left_grey, block);
  const cv::Mat doubtful = (texture < threshold) & (disparity16 >= min_disparity * kDisparityFraction);
  const int dropped = cv::countNonZero(doubtful);
  disparity16.setTo(cv::Scalar(NoMatch(min_disparity)), doubtful);
  return dropped;
}

int DropBesideJumps(cv::Mat& disparity16, int min_disparity, int step_px, int reach_px) {
  const int step = step_px * kDisparityFraction;
  cv::Mat doubtful(disparity16.size(), CV_8U, cv::Scalar(0));
  const auto jump = [&](int16_t a, int16_t b) {
    return IsMatched(a, min_disparity) && IsMatched(b, min_disparity) && std::abs(a - b) > step;
  };
  for (int y = 0; y < disparity16.rows; ++y) {
    const int16_t* row = disparity16.ptr<int16_t>(y);
    const int16_t* below = y + 1 < disparity16.rows ? disparity16.ptr<int16_t>(y + 1) : nullptr;
    for (int x = 0; x < disparity16.cols; ++x) {
      if (x + 1 < disparity16.cols && jump(row[x], row[x + 1])) {
        doubtful.row(y).colRange(std::max(x - reach_px + 1, 0),
                                 std::min(x + reach_px + 1, disparity16.cols)) = 255;
      }
      if (below != nullptr && jump(row[x], below[x])) {
        doubtful.col(x).rowRange(std::max(y - reach_px + 1, 0),
                                 std::min(y + reach_px + 1, disparity16.rows)) = 255;
      }
    }
  }
  doubtful &= disparity16 >= min_disparity * kDisparityFraction;
  const int dropped = cv::countNonZero(doubtful);
  disparity16.setTo(cv::Scalar(NoMatch(min_disparity)), doubtful);
  return dropped;
}

int FillAlongEdges(cv::Mat& disparity16, const cv::Mat& guide, cv::Range columns, int lambda,
                   double sigma_color, int min_disparity, cv::Mat& filled) {
  filled.create(disparity16.size(), CV_8U);
  filled.setTo(0);
  if (columns.empty() || disparity16.empty()) return 0;
  cv::Mat map = disparity16.colRange(columns);
  const cv::Mat matched = map >= min_disparity * kDisparityFraction;
  cv::Mat confidence, weighted;
  matched.convertTo(confidence, CV_32F, 1.0 / 255);
  map.convertTo(weighted, CV_32F);
  weighted = weighted.mul(confidence);
  // The smoother runs on a quarter of the pixels: a hole needs no finer
  // estimate, and a match keeps its own value beyond a pixel of it.
  const cv::Size half((map.cols + 1) / 2, (map.rows + 1) / 2);
  cv::Mat small_guide, small_weighted, small_confidence;
  cv::resize(guide.colRange(columns), small_guide, half, 0, 0, cv::INTER_AREA);
  cv::resize(weighted, small_weighted, half, 0, 0, cv::INTER_AREA);
  cv::resize(confidence, small_confidence, half, 0, 0, cv::INTER_AREA);
  const cv::Ptr<cv::ximgproc::FastGlobalSmootherFilter> smoother =
      cv::ximgproc::createFastGlobalSmootherFilter(small_guide, lambda, sigma_color);
  smoother->filter(small_weighted, small_weighted);
  smoother->filter(small_confidence, small_confidence);
  cv::Mat smooth_values, smooth_confidence;
  cv::resize(small_weighted, smooth_values, map.size(), 0, 0, cv::INTER_LINEAR);
  cv::resize(small_confidence, smooth_confidence, map.size(), 0, 0, cv::INTER_LINEAR);
  // Where hardly any match reaches a pixel along the guide, it stays a hole.
  constexpr float kLeastConfidence = 1e-3f;
  cv::Mat marks = filled.colRange(columns);
  int count = 0;
  for (int y = 0; y < map.rows; ++y) {
    int16_t* values = map.ptr<int16_t>(y);
    const float* sums = smooth_values.ptr<float>(y);
    const float* weights = smooth_confidence.ptr<float>(y);
    uint8_t* mark = marks.ptr<uint8_t>(y);
    for (int x = 0; x < map.cols;) {
      if (IsMatched(values[x], min_disparity)) {
        // Smoothed along the surface, never across a jump.
        const float smooth = weights[x] >= kLeastConfidence ? sums[x] / weights[x] : values[x];
        if (std::abs(smooth - values[x]) <= kSmoothingReach) values[x] = cv::saturate_cast<int16_t>(smooth);
        ++x;
        continue;
      }
      int end = x;
      while (end < map.cols && !IsMatched(values[end], min_disparity)) ++end;
      const auto ends = RunEnds(values, x, end, map.cols, min_disparity);
      for (; x < end; ++x) {
        const bool smoothed = weights[x] >= kLeastConfidence;
        if (smoothed || ends) values[x] = HoleValue(smoothed ? sums[x] / weights[x] : 0.0f, smoothed, ends);
        if (IsMatched(values[x], min_disparity)) {
          mark[x] = 255;
          ++count;
        }
      }
    }
  }
  return count;
}

double MeanGreyChange(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type() || a.empty()) return 255;
  cv::Mat difference;
  cv::absdiff(a, b, difference);
  return cv::mean(difference)[0];
}

bool TTemporalSmoother::Apply(cv::Mat& disparity16, const cv::Mat& left_grey, const TDisparitySettings& s) {
  const bool changed = maps_.empty() || !(s == settings_) || maps_.front().size() != disparity16.size() ||
                       MeanGreyChange(left_grey, last_left_) > s.Post.SceneChange;
  if (changed) maps_.clear();
  settings_ = s;
  left_grey.copyTo(last_left_);
  maps_.push_front(disparity16.clone());
  while (maps_.size() > static_cast<size_t>(s.Post.TemporalMaps)) maps_.pop_back();
  if (maps_.size() == 1) return changed;
  const int min_disparity = s.MinDisparity;
  for (int y = 0; y < disparity16.rows; ++y) {
    int16_t* values = disparity16.ptr<int16_t>(y);
    for (int x = 0; x < disparity16.cols; ++x) {
      const int newest = values[x];
      if (!IsMatched(values[x], min_disparity)) continue;
      // The newest map is the first kept.
      int sum = newest, count = 1;
      for (auto map = std::next(maps_.begin()); map != maps_.end(); ++map) {
        const int value = map->ptr<int16_t>(y)[x];
        if (IsMatched(static_cast<int16_t>(value), min_disparity) &&
            std::abs(value - newest) <= kDisparityFraction) {
          sum += value;
          ++count;
        }
      }
      values[x] = static_cast<int16_t>((sum + count / 2) / count);
    }
  }
  return changed;
}

int DropOutsideRange(cv::Mat& disparity16, const TStereoCalibration& calibration, int min_disparity,
                     int near_mm, int far_mm) {
  const cv::Matx44d& q = calibration.Q;
  const int16_t none = NoMatch(min_disparity);
  int dropped = 0;
  for (int y = 0; y < disparity16.rows; ++y) {
    int16_t* values = disparity16.ptr<int16_t>(y);
    for (int x = 0; x < disparity16.cols; ++x) {
      if (!IsMatched(values[x], min_disparity)) continue;
      // Depth does not depend on the pixel in a rectified frame.
      const double w = q(3, 2) * values[x] / kDisparityFraction + q(3, 3);
      const double z = w != 0 ? q(2, 3) / w : -1;
      if (z <= 0 || z < near_mm || z > far_mm) {
        values[x] = none;
        ++dropped;
      }
    }
  }
  return dropped;
}

namespace {

class StageClock {
 public:
  StageClock(std::vector<TPostStageTime>& times, const char* stage)
      : times_(times), stage_(stage), start_(std::chrono::steady_clock::now()) {}
  ~StageClock() {
    times_.push_back(
        {stage_,
         std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count()});
  }
  StageClock(const StageClock&) = delete;
  StageClock& operator=(const StageClock&) = delete;

 private:
  std::vector<TPostStageTime>& times_;
  const char* stage_;
  std::chrono::steady_clock::time_point start_;
};

// The texture is judged over at least this block: a smaller one sees noise.
constexpr int kSmallestTextureBlock = 7;
// Matches on either side of a jump of the map mix two surfaces in their blocks.
constexpr int kJumpStep_px = 2;
constexpr int kJumpReach_px = 2;

}  // namespace

void TDisparityPost::Apply(const TDisparitySettings& s, const cv::Mat& left_grey, const cv::Mat& right_grey,
                           const cv::Mat& left, const TStereoCalibration* calibration, cv::Mat& disparity16,
                           cv::Mat& filled, std::vector<TPostStageTime>& times, std::string& note) {
  const TDisparityPostSettings& p = s.Post;
  filled.release();
  if (p.LeftRightCheck) {
    const StageClock clock(times, "LeftRightCheck");
    right_view_.Compute(s, left_grey, right_grey, right16_);
    DropRightDisagreement(disparity16, right16_, s.MinDisparity, p.LeftRightMaxDiff_px);
  }
  if (p.TextureCheck) {
    const StageClock clock(times, "TextureThreshold");
    DropTextureless(disparity16, left_grey, std::max(s.BlockSize, kSmallestTextureBlock), p.TextureThreshold,
                    s.MinDisparity);
    DropBesideJumps(disparity16, s.MinDisparity, kJumpStep_px, kJumpReach_px);
  }
  if (p.Temporal) {
    const StageClock clock(times, "Temporal");
    history_.Apply(disparity16, left_grey, s);
  } else {
    history_.Reset();
  }
  if (p.Fill) {
    const StageClock clock(times, "Fill");
    FillAlongEdges(disparity16, left, MatchableColumns(s, disparity16.cols), p.FillLambda, p.FillSigmaColor,
                   s.MinDisparity, filled);
  }
  if (p.Range) {
    if (calibration == nullptr || calibration->SquareSize_mm <= 0) {
      note = "Disparity: the near/far range needs a stereo calibration in mm; no point is dropped";
      return;
    }
    const StageClock clock(times, "Range");
    DropOutsideRange(disparity16, *calibration, s.MinDisparity, p.Near_mm, p.Far_mm);
    if (!filled.empty()) filled.setTo(0, disparity16 < s.MinDisparity * kDisparityFraction);
  }
}
