#include "filters/board_outline.h"

#include <cmath>
#include <optional>

namespace {

// Mean brightness of the 3 x 3 pixels around a point; none outside the image.
std::optional<double> Brightness(const cv::Mat& image, cv::Point2f point) {
  const int x = cvRound(point.x), y = cvRound(point.y);
  if (x < 1 || y < 1 || x >= image.cols - 1 || y >= image.rows - 1) return std::nullopt;
  const cv::Scalar mean = cv::mean(image(cv::Rect(x - 1, y - 1, 3, 3)));
  double sum = 0;
  for (int c = 0; c < image.channels(); ++c) sum += mean[c];
  return sum / image.channels();
}

// A chessboard corner at the point: the squares on one diagonal alike, those
// on the other alike, and the two diagonals far apart.
bool IsCorner(const cv::Mat& image, cv::Point2f at, cv::Point2f across, cv::Point2f down, double contrast) {
  const auto a1 = Brightness(image, at + 0.3f * (across + down)),
             a2 = Brightness(image, at - 0.3f * (across + down));
  const auto b1 = Brightness(image, at + 0.3f * (across - down)),
             b2 = Brightness(image, at - 0.3f * (across - down));
  if (!a1 || !a2 || !b1 || !b2) return false;
  return std::abs(*a1 - *a2) < 0.25 * contrast && std::abs(*b1 - *b2) < 0.25 * contrast &&
         std::abs((*a1 + *a2) - (*b1 + *b2)) / 2 > 0.5 * contrast;
}

}  // namespace

bool BoardExtendsBeyond(const cv::Mat& image, const std::vector<cv::Point2f>& corners, cv::Size pattern) {
  const int across = pattern.width, down = pattern.height;
  if (across < 3 || down < 3 || corners.size() != static_cast<size_t>(across) * static_cast<size_t>(down))
    return false;
  const auto at = [&](int row, int column) {
    return corners[static_cast<size_t>(row) * static_cast<size_t>(across) + static_cast<size_t>(column)];
  };
  // Dark against light: the centres of two neighbouring squares inside.
  const auto first = Brightness(image, (at(0, 0) + at(1, 1)) * 0.5f);
  const auto second = Brightness(image, (at(0, 1) + at(1, 2)) * 0.5f);
  if (!first || !second) return false;
  const double contrast = std::abs(*first - *second);
  if (contrast < 10) return false;

  // One edge: the points one square out from its inner corners; the board
  // goes on when most of them are corners too.
  const auto edge_continues = [&](int count, auto outside) {
    int corners_found = 0;
    for (int k = 1; k + 1 < count; ++k) {
      const auto [point, along, out] = outside(k);
      corners_found += IsCorner(image, point, along, out, contrast);
    }
    return 2 * corners_found > count - 2;
  };
  const auto row_edge = [&](int row, int inward) {
    return edge_continues(across, [&, row, inward](int c) {
      const cv::Point2f out = at(row, c) - at(row + inward, c);
      return std::tuple(at(row, c) + out, at(row, c + 1) - at(row, c), out);
    });
  };
  const auto column_edge = [&](int column, int inward) {
    return edge_continues(down, [&, column, inward](int r) {
      const cv::Point2f out = at(r, column) - at(r, column + inward);
      return std::tuple(at(r, column) + out, at(r + 1, column) - at(r, column), out);
    });
  };
  return row_edge(0, 1) || row_edge(down - 1, -1) || column_edge(0, 1) || column_edge(across - 1, -1);
}
