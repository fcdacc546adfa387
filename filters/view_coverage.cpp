#include "filters/view_coverage.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {

constexpr double kPositionMargin = 0.08;
constexpr double kSizeMargin = 0.03;
constexpr double kSkewMargin = 0.1;

// How much one pair of opposite edges differs in length: a board turned away
// shows its far edge shorter.
double Foreshortening(cv::Point2f a0, cv::Point2f a1, cv::Point2f b0, cv::Point2f b1) {
  const double a = cv::norm(a1 - a0), b = cv::norm(b1 - b0);
  return a > 0 && b > 0 ? std::abs(std::log(a / b)) : 0.0;
}

}  // namespace

TViewShape ShapeOfView(const cv::Point2f* corners, cv::Size board, cv::Size image) {
  const int count = board.area();
  const cv::Point2f top_left = corners[0], top_right = corners[board.width - 1],
                    bottom_left = corners[count - board.width], bottom_right = corners[count - 1];
  cv::Point2d mean(0, 0);
  for (int i = 0; i < count; ++i) mean += cv::Point2d(corners[i]);
  mean *= 1.0 / count;
  const std::vector<cv::Point2f> outline{top_left, top_right, bottom_right, bottom_left};
  const cv::Rect extent = cv::boundingRect(outline);
  TViewShape shape;
  // Positions as shares of the room the board has to move in while it stays
  // whole in the image: 0 at one edge, 1 at the other.
  const auto place = [](double centre, double board, double image) {
    return board < image ? std::clamp((centre - board / 2) / (image - board), 0.0, 1.0) : 0.5;
  };
  shape.X = place(mean.x, extent.width, image.width);
  shape.Y = place(mean.y, extent.height, image.height);
  shape.Size = std::min(1.0, std::sqrt(std::abs(cv::contourArea(outline)) / image.area()));
  // A tilt of 25 degrees at the usual distances foreshortens by about 0.1.
  shape.Skew = std::min(1.0, 4.0 * std::max(Foreshortening(top_left, bottom_left, top_right, bottom_right),
                                            Foreshortening(top_left, top_right, bottom_left, bottom_right)));
  return shape;
}

bool TViewCoverage::Enough() const {
  for (size_t i = 0; i < Spread.size(); ++i) {
    if (!Reached(i)) return false;
  }
  return Views >= kViewsEnough;
}

TViewCoverage CoverageOf(const std::vector<TViewShape>& views) {
  TViewCoverage coverage;
  coverage.Views = static_cast<int>(views.size());
  for (size_t i = 0; i < 4 && !views.empty(); ++i) {
    const auto [low, high] = std::minmax_element(
        views.begin(), views.end(), [i](const TViewShape& a, const TViewShape& b) { return a[i] < b[i]; });
    coverage.Spread[i] = (*high)[i] - (*low)[i];
  }
  return coverage;
}

bool AddsCoverage(const TViewShape& view, const std::vector<TViewShape>& stored) {
  return std::all_of(stored.begin(), stored.end(), [&view](const TViewShape& other) {
    return std::hypot(view.X - other.X, view.Y - other.Y) >= kPositionMargin ||
           std::abs(view.Size - other.Size) >= kSizeMargin || std::abs(view.Skew - other.Skew) >= kSkewMargin;
  });
}

std::string CoverageLine(const TViewCoverage& coverage) {
  std::string line = "Coverage";
  for (size_t i = 0; i < 4; ++i) {
    const int share = static_cast<int>(std::min(1.0, coverage.Spread[i] / kSufficientSpread[i]) * 100.0);
    line += std::string(" ") + kCoverageNames[i] + " " + std::to_string(share) + "%";
  }
  return line;
}
