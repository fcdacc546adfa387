#include "depth/disparity_matcher.h"

#include <algorithm>
#include <cstdint>
#include <opencv2/calib3d.hpp>

#include "filters/parallel_loop.h"
#include "filters/ucalibfilter.h"

namespace {

cv::Ptr<cv::StereoMatcher> MakeMatcher(const TDisparitySettings& s) {
  if (s.Matcher == TMatcherKind::BlockMatching) {
    cv::Ptr<cv::StereoBM> bm = cv::StereoBM::create(s.NumDisparities, s.BlockSize);
    bm->setMinDisparity(s.MinDisparity);
    bm->setUniquenessRatio(s.UniquenessRatio);
    bm->setSpeckleWindowSize(s.SpeckleWindowSize);
    bm->setSpeckleRange(s.SpeckleRange);
    bm->setDisp12MaxDiff(1);
    return bm;
  }
  const int mode =
      s.Matcher == TMatcherKind::SemiGlobal3Way ? cv::StereoSGBM::MODE_SGBM_3WAY : cv::StereoSGBM::MODE_SGBM;
  return cv::StereoSGBM::create(s.MinDisparity, s.NumDisparities, s.BlockSize, SmallPenalty(s),
                                LargePenalty(s), 1, 0, s.UniquenessRatio, s.SpeckleWindowSize, s.SpeckleRange,
                                mode);
}

// The library's semi-global costs are 16-bit. A pixel of a grey pair costs at
// most 93 (2 x 15 of the clipped gradient, 255 / 4 of the intensity); while a
// block's sum slides down it holds one row more than the block; the path
// costs carry the large penalty as an offset, and the offset of the best path
// cost adds it once more. All of it must stay below 32768, or sums wrap and
// saturate into garbage (a block of 255 measures a 20 px shift as 0.93 px).
constexpr int64_t kLargestPixelCost = 93;
constexpr int64_t kLargestCost = 32767;

bool SemiGlobalCostsFit(const TDisparitySettings& s) {
  const int64_t block = s.BlockSize;
  return kLargestPixelCost * block * (block + 1) + 2 * static_cast<int64_t>(LargePenalty(s)) <= kLargestCost;
}

// The largest odd block whose costs fit with these penalties; 0 for none.
int LargestSemiGlobalBlock(TDisparitySettings s) {
  int largest = 0;
  for (s.BlockSize = 1; SemiGlobalCostsFit(s); s.BlockSize += 2) largest = s.BlockSize;
  return largest;
}

std::string PostSettingsProblem(const TDisparityPostSettings& p) {
  if (p.LeftRightMaxDiff_px < 0 || p.LeftRightMaxDiff_px > 64) {
    return FormatLine("Left-right disagreement %d px refused: from 0 to 64", p.LeftRightMaxDiff_px);
  }
  if (p.TextureThreshold < 0 || p.TextureThreshold > 255) {
    return FormatLine("Texture threshold %d refused: from 0 to 255", p.TextureThreshold);
  }
  if (p.FillLambda < 1 || p.FillLambda > 1000000 || !(p.FillSigmaColor >= 0.1 && p.FillSigmaColor <= 10)) {
    return "Filling refused: smoothness from 1 to 1000000, edge sigma from 0.1 to 10";
  }
  if (p.TemporalMaps < 2 || p.TemporalMaps > 16 || p.SceneChange < 1 || p.SceneChange > 255) {
    return "Smoothing over maps refused: 2 to 16 maps, a scene change of 1 to 255 grey levels";
  }
  if (p.Near_mm < 1 || p.Far_mm <= p.Near_mm || p.Far_mm > 1000000) {
    return FormatLine(
        "Range %d to %d mm refused: the near end from 1 mm, the far end beyond it, up to 1000 m", p.Near_mm,
        p.Far_mm);
  }
  return {};
}

}  // namespace

bool SameMatching(const TDisparitySettings& a, const TDisparitySettings& b) {
  TDisparitySettings raw = a;
  raw.Post = b.Post;
  return raw == b;
}

std::string DisparitySettingsProblem(const TDisparitySettings& s) {
  if (s.NumDisparities < kDisparityFraction || s.NumDisparities > kMaxDisparities ||
      s.NumDisparities % kDisparityFraction != 0) {
    return FormatLine("Number of disparities %d refused: a multiple of 16 from 16 to 256", s.NumDisparities);
  }
  const int smallest_block = s.Matcher == TMatcherKind::BlockMatching ? 5 : 1;
  if (s.BlockSize % 2 == 0 || s.BlockSize < smallest_block || s.BlockSize > 255) {
    return FormatLine("Block size %d refused: an odd number from %d to 255", s.BlockSize, smallest_block);
  }
  if (s.MinDisparity < -1024 || s.MinDisparity > 1024) {
    return FormatLine("Minimum disparity %d refused: from -1024 to 1024", s.MinDisparity);
  }
  if (s.UniquenessRatio < 0 || s.UniquenessRatio > 100 || s.SpeckleWindowSize < 0 || s.SpeckleRange < 0) {
    return "Uniqueness, speckle window and speckle range must not be negative";
  }
  if (s.PenaltySmall < 0 || s.PenaltyLarge < 0 || (s.PenaltyLarge > 0 && s.PenaltyLarge <= SmallPenalty(s))) {
    return "Smoothness penalties refused: the large one must exceed the small one";
  }
  if (std::string post = PostSettingsProblem(s.Post); !post.empty()) return post;
  if (s.Matcher != TMatcherKind::BlockMatching && !SemiGlobalCostsFit(s)) {
    return FormatLine(
        "Block size %d with P2 %d refused: the semi-global costs would overflow (largest block %d with "
        "these penalties)",
        s.BlockSize, LargePenalty(s), LargestSemiGlobalBlock(s));
  }
  return {};
}

int SmallPenalty(const TDisparitySettings& s) {
  return s.PenaltySmall > 0 ? s.PenaltySmall : 8 * s.BlockSize * s.BlockSize;
}

int LargePenalty(const TDisparitySettings& s) {
  return s.PenaltyLarge > 0 ? s.PenaltyLarge : 32 * s.BlockSize * s.BlockSize;
}

cv::Range MatchableColumns(const TDisparitySettings& s, int width) {
  const int first = std::clamp(s.MinDisparity + s.NumDisparities - 1, 0, width);
  const int end = std::clamp(width + std::min(s.MinDisparity, 0), first, width);
  return {first, end};
}

double ValidShare(const cv::Mat& disparity16, const TDisparitySettings& s) {
  const cv::Range columns = MatchableColumns(s, disparity16.cols);
  if (columns.empty() || disparity16.rows == 0) return 0;
  const cv::Mat area = disparity16.colRange(columns);
  const int matched = cv::countNonZero(area >= s.MinDisparity * kDisparityFraction);
  return static_cast<double>(matched) / static_cast<double>(area.total());
}

namespace {

// Rows of context above and below a strip's own rows: the top-down paths of
// the first own row have crossed that many rows, as in the whole image.
int StripMargin(const TDisparitySettings& s) { return std::max(16, s.BlockSize); }

// Never more strips than leave each a few times its margin of own rows.
int StripCount(int wanted, int rows, int margin) {
  const int cores = wanted > 0 ? wanted : std::max(cv::getNumThreads(), 1);
  return std::clamp(rows / (4 * margin), 1, cores);
}

}  // namespace

void TDisparityMatcher::Compute(const TDisparitySettings& settings, const cv::Mat& left, const cv::Mat& right,
                                cv::Mat& disparity16) {
  const bool in_strips = settings.Matcher == TMatcherKind::SemiGlobal;
  const int strips = in_strips ? StripCount(strips_, left.rows, StripMargin(settings)) : 1;
  if (!made_ || !SameMatching(settings, made_for_) || static_cast<int>(matchers_.size()) != strips) {
    matchers_.clear();
    for (int strip = 0; strip < strips; ++strip) matchers_.push_back(MakeMatcher(settings));
    strip_maps_.assign(static_cast<size_t>(strips), cv::Mat());
    made_for_ = settings;
    made_ = true;
  }
  if (strips == 1) {
    matchers_.front()->compute(left, right, disparity16);
    return;
  }
  ComputeInStrips(left, right, disparity16);
}

void TDisparityMatcher::ComputeInStrips(const cv::Mat& left, const cv::Mat& right, cv::Mat& disparity16) {
  const int strips = static_cast<int>(matchers_.size());
  const int margin = StripMargin(made_for_);
  const int rows = left.rows;
  disparity16.create(left.size(), CV_16S);
  parallel::ForEachPart(cv::Range(0, strips), [&](const cv::Range& range) {
    for (int strip = range.start; strip < range.end; ++strip) {
      const cv::Range own(rows * strip / strips, rows * (strip + 1) / strips);
      const cv::Range seen(std::max(own.start - margin, 0), std::min(own.end + margin, rows));
      cv::Mat& map = strip_maps_[static_cast<size_t>(strip)];
      matchers_[static_cast<size_t>(strip)]->compute(left.rowRange(seen), right.rowRange(seen), map);
      cv::Mat target = disparity16.rowRange(own);
      map.rowRange(own.start - seen.start, own.end - seen.start).copyTo(target);
    }
  });
}
