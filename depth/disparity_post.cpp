#include "depth/disparity_post.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iterator>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc/edge_filter.hpp>
#include <optional>
#include <utility>

#include "depth/memory_reuse.h"
#include "filters/parallel_loop.h"
#include "filters/ucalibfilter.h"

namespace {

// Bands of rows a step is split into over the cores: a few a core, so a band
// slowed by another thread does not hold up the others.
constexpr double kRowBands = 8;

// Runs the count over bands of the rows on every core; the bands' counts
// summed. Each band must touch only its own rows of what it writes.
template <class Band>
void ForEachRowBand(int rows, const Band& band_body) {
  parallel::ForEachPart(cv::Range(0, rows), band_body, kRowBands);
}

template <class CountBand>
int CountInRowBands(int rows, const CountBand& count_band) {
  std::atomic<int> total{0};
  ForEachRowBand(rows, [&](const cv::Range& band) { total += count_band(band); });
  return total.load();
}

// Matched pixels that the test of their row, row_test(y), finds doubtful
// (test(x, value) true) become no match, in bands of rows; the number dropped.
template <class RowTest>
int DropMatched(cv::Mat& disparity16, int min_disparity, const RowTest& row_test) {
  const int16_t none = NoMatch(min_disparity);
  return CountInRowBands(disparity16.rows, [&](const cv::Range& rows) {
    int dropped = 0;
    for (int y = rows.start; y < rows.end; ++y) {
      int16_t* values = disparity16.ptr<int16_t>(y);
      const auto doubtful = row_test(y);
      for (int x = 0; x < disparity16.cols; ++x) {
        if (!IsMatched(values[x], min_disparity) || !doubtful(x, values[x])) continue;
        values[x] = none;
        ++dropped;
      }
    }
    return dropped;
  });
}

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

// One row of the map filled from the smoothed sums and weights; marks (255)
// what was filled, the number filled.
int FillRow(int16_t* values, const float* sums, const float* weights, int width, int min_disparity,
            uint8_t* mark) {
  // Where hardly any match reaches a pixel along the guide, it stays a hole.
  constexpr float kLeastConfidence = 1e-3f;
  int count = 0;
  for (int x = 0; x < width;) {
    if (IsMatched(values[x], min_disparity)) {
      // Smoothed along the surface, never across a jump.
      const float smooth = weights[x] >= kLeastConfidence ? sums[x] / weights[x] : values[x];
      if (std::abs(smooth - values[x]) <= kSmoothingReach) values[x] = cv::saturate_cast<int16_t>(smooth);
      ++x;
      continue;
    }
    int end = x;
    while (end < width && !IsMatched(values[end], min_disparity)) ++end;
    const auto ends = RunEnds(values, x, end, width, min_disparity);
    for (; x < end; ++x) {
      const bool smoothed = weights[x] >= kLeastConfidence;
      if (smoothed || ends) values[x] = HoleValue(smoothed ? sums[x] / weights[x] : 0.0f, smoothed, ends);
      if (IsMatched(values[x], min_disparity)) {
        mark[x] = 255;
        ++count;
      }
    }
  }
  return count;
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
  ForEachRowBand(right16.rows, [&](const cv::Range& rows) {
    for (int y = rows.start; y < rows.end; ++y) {
      auto* values = right16.ptr<int16_t>(y);
      for (int x = 0; x < right16.cols; ++x)
        values[x] = IsMatched(values[x], half_min) ? static_cast<int16_t>(2 * values[x])
                                                   : NoMatch(settings.MinDisparity);
    }
  });
}

int DropRightDisagreement(cv::Mat& disparity16, const cv::Mat& right16, int min_disparity, int max_diff_px) {
  // A right view of half the size is a pixel coarser.
  const int scale = right16.cols > 0 && right16.cols < disparity16.cols ? 2 : 1;
  const int largest_diff = (max_diff_px + scale - 1) * kDisparityFraction;
  return DropMatched(disparity16, min_disparity, [&](int y) {
    const int16_t* right = right16.ptr<int16_t>(std::min(y / scale, right16.rows - 1));
    return [&, right](int x, int16_t value) {
      const int partner = (x - cvRound(value / static_cast<double>(kDisparityFraction))) / scale;
      return partner >= 0 && partner < right16.cols && IsMatched(right[partner], min_disparity) &&
             std::abs(value - right[partner]) > largest_diff;
    };
  });
}

cv::Mat RowTexture(const cv::Mat& grey, int block) {
  cv::Mat texture(grey.size(), CV_32F);
  const int reach = block / 2;
  ForEachRowBand(grey.rows, [&](const cv::Range& rows) {
    // The band's blocks reach into the rows beside it.
    const cv::Range seen(std::max(rows.start - reach, 0), std::min(rows.end + reach, grey.rows));
    cv::Mat step;
    // Half the difference of the two row neighbours: one step between pixels.
    cv::Sobel(grey.rowRange(seen), step, CV_32F, 1, 0, 1, 0.5, 0, cv::BORDER_REPLICATE);
    step = cv::abs(step);
    // Filtered as a part of the steps seen, whose ends are the image's own
    // only where the band meets the image's edge.
    cv::Mat own = texture.rowRange(rows);
    cv::boxFilter(step.rowRange(rows.start - seen.start, rows.end - seen.start), own, CV_32F, {block, block},
                  {-1, -1}, true, cv::BORDER_REPLICATE);
  });
  return texture;
}

int DropTextureless(cv::Mat& disparity16, const cv::Mat& left_grey, int block, int threshold,
                    int min_disparity) {
  if (threshold <= 0) return 0;
  const cv::Mat texture = RowTexture(left_grey, block);
  const auto least = static_cast<float>(threshold);
  return DropMatched(disparity16, min_disparity, [&](int y) {
    const float* textures = texture.ptr<float>(y);
    return [&, textures](int x, int16_t) { return textures[x] < least; };
  });
}

namespace {

// 255 where the two maps' values are both matched and differ by more than
// the step.
cv::Mat Jumps(const cv::Mat& first, const cv::Mat& second, int lowest, int step) {
  cv::Mat difference;
  cv::absdiff(first, second, difference);
  return (difference > step) & (first >= lowest) & (second >= lowest);
}

}  // namespace

int DropBesideJumps(cv::Mat& disparity16, int min_disparity, int step_px, int reach_px) {
  const int width = disparity16.cols, height = disparity16.rows;
  if (width < 2 || height < 2 || reach_px < 1) return 0;
  const int lowest = min_disparity * kDisparityFraction, step = step_px * kDisparityFraction;
  // Jumps along the row (x to x + 1, kept at x) and across rows (y to y + 1,
  // kept at y).
  cv::Mat along(disparity16.size(), CV_8U, cv::Scalar(0)), across(disparity16.size(), CV_8U, cv::Scalar(0));
  Jumps(disparity16.colRange(0, width - 1), disparity16.colRange(1, width), lowest, step)
      .copyTo(along.colRange(0, width - 1));
  Jumps(disparity16.rowRange(0, height - 1), disparity16.rowRange(1, height), lowest, step)
      .copyTo(across.rowRange(0, height - 1));
  // A jump kept at x reaches x - reach + 1 to x + reach: a pixel is reached
  // by those kept from x - reach to x + reach - 1. So across rows.
  const cv::Point anchor(reach_px, 0);
  cv::dilate(along, along, cv::Mat::ones(1, 2 * reach_px, CV_8U), anchor, 1, cv::BORDER_CONSTANT, 0);
  cv::dilate(across, across, cv::Mat::ones(2 * reach_px, 1, CV_8U), {0, reach_px}, 1, cv::BORDER_CONSTANT, 0);
  const cv::Mat doubtful = (along | across) & (disparity16 >= lowest);
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
  // estimate, and a match keeps its own value beyond a pixel of it. Halved
  // from an even number of rows and columns, two by two; the last odd one
  // takes its neighbour's estimate.
  const cv::Size half(std::max(map.cols / 2, 1), std::max(map.rows / 2, 1));
  const cv::Rect even(0, 0, std::min(2 * half.width, map.cols), std::min(2 * half.height, map.rows));
  cv::Mat small_guide, small_weighted, small_confidence;
  cv::resize(guide.colRange(columns)(even), small_guide, half, 0, 0, cv::INTER_AREA);
  cv::resize(weighted(even), small_weighted, half, 0, 0, cv::INTER_AREA);
  cv::resize(confidence(even), small_confidence, half, 0, 0, cv::INTER_AREA);
  const cv::Ptr<cv::ximgproc::FastGlobalSmootherFilter> smoother =
      cv::ximgproc::createFastGlobalSmootherFilter(small_guide, lambda, sigma_color);
  smoother->filter(small_weighted, small_weighted);
  smoother->filter(small_confidence, small_confidence);
  cv::Mat smooth_values, smooth_confidence;
  cv::resize(small_weighted, smooth_values, map.size(), 0, 0, cv::INTER_LINEAR);
  cv::resize(small_confidence, smooth_confidence, map.size(), 0, 0, cv::INTER_LINEAR);
  cv::Mat marks = filled.colRange(columns);
  return CountInRowBands(map.rows, [&](const cv::Range& rows) {
    int count = 0;
    for (int y = rows.start; y < rows.end; ++y) {
      count += FillRow(map.ptr<int16_t>(y), smooth_values.ptr<float>(y), smooth_confidence.ptr<float>(y),
                       map.cols, min_disparity, marks.ptr<uint8_t>(y));
    }
    return count;
  });
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
  ForEachRowBand(disparity16.rows, [&](const cv::Range& rows) {
    // The newest map is the first kept.
    std::vector<const int16_t*> older(maps_.size() - 1);
    for (int y = rows.start; y < rows.end; ++y) {
      std::transform(std::next(maps_.begin()), maps_.end(), older.begin(),
                     [y](const cv::Mat& map) { return map.ptr<int16_t>(y); });
      int16_t* values = disparity16.ptr<int16_t>(y);
      for (int x = 0; x < disparity16.cols; ++x) {
        const int newest = values[x];
        if (!IsMatched(values[x], min_disparity)) continue;
        int sum = newest, count = 1;
        for (const int16_t* map : older) {
          const int value = map[x];
          if (IsMatched(map[x], min_disparity) && std::abs(value - newest) <= kDisparityFraction) {
            sum += value;
            ++count;
          }
        }
        values[x] = static_cast<int16_t>((sum + count / 2) / count);
      }
    }
  });
  return changed;
}

int DropOutsideRange(cv::Mat& disparity16, const TStereoCalibration& calibration, int min_disparity,
                     int near_mm, int far_mm) {
  const cv::Matx44d& q = calibration.Q;
  const auto within = [&](int16_t value) {
    // Depth does not depend on the pixel in a rectified frame.
    const double w = q(3, 2) * value / kDisparityFraction + q(3, 3);
    const double z = w != 0 ? q(2, 3) / w : -1;
    return z > 0 && z >= near_mm && z <= far_mm;
  };
  // The verdicts of the values of the largest range a matcher searches,
  // looked up; any other value worked out.
  const int lowest = min_disparity * kDisparityFraction;
  std::vector<uint8_t> keep(static_cast<size_t>((kMaxDisparities + 2) * kDisparityFraction));
  for (size_t i = 0; i < keep.size(); ++i) keep[i] = within(cv::saturate_cast<int16_t>(lowest + int(i)));
  const auto kept = [&](int16_t value) {
    const auto i = static_cast<size_t>(value - lowest);
    return i < keep.size() ? keep[i] != 0 : within(value);
  };
  return DropMatched(disparity16, min_disparity,
                     [&](int) { return [&](int, int16_t value) { return !kept(value); }; });
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

TDisparityPost::TDisparityPost() { depth::ReuseFreedMemory(); }

void TDisparityPost::PrepareFromPair(const TDisparitySettings& s, const cv::Mat& left_grey,
                                     const cv::Mat& right_grey) {
  right_view_prepared_ = false;
  if (!s.Post.LeftRightCheck) return;
  right_view_.Compute(s, left_grey, right_grey, right16_);
  right_view_prepared_ = true;
}

void TDisparityPost::Apply(const TDisparitySettings& s, const cv::Mat& left_grey, const cv::Mat& right_grey,
                           const cv::Mat& left, const TStereoCalibration* calibration, cv::Mat& disparity16,
                           cv::Mat& filled, std::vector<TPostStageTime>& times, std::string& note) {
  const TDisparityPostSettings& p = s.Post;
  filled.release();
  // A prepared right view serves this pair only.
  const bool prepared = std::exchange(right_view_prepared_, false);
  if (p.LeftRightCheck) {
    const StageClock clock(times, "LeftRightCheck");
    if (!prepared) right_view_.Compute(s, left_grey, right_grey, right16_);
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
