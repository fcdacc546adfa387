#pragma once

// How well a set of calibration views covers what a calibration needs: the
// board seen across the image (X, Y), near and far (size) and tilted (skew).

#include <array>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

// One view of the board in one image, each measure 0 ... 1.
struct TViewShape {
  double X = 0, Y = 0, Size = 0, Skew = 0;
  double operator[](size_t i) const { return i == 0 ? X : i == 1 ? Y : i == 2 ? Size : Skew; }
};

// The shape of a whole board's corners (row by row) in an image of that size.
TViewShape ShapeOfView(const cv::Point2f* corners, cv::Size board, cv::Size image);

inline constexpr const char* kCoverageNames[4] = {"X", "Y", "size", "skew"};
// Spread (largest less smallest) of each measure over the views that
// suffices for a calibration, and the views needed beside it. A board that
// fills a third of the image across has little room to move: a fifth of
// that room each way, a tenth of the image in size and tilts of about 20
// degrees both ways pin the lens model down.
inline constexpr std::array<double, 4> kSufficientSpread = {0.15, 0.15, 0.08, 0.3};
inline constexpr int kViewsEnough = 10;

struct TViewCoverage {
  std::array<double, 4> Spread{};
  int Views = 0;
  bool Reached(size_t measure) const { return Spread[measure] >= kSufficientSpread[measure]; }
  bool Enough() const;
};

TViewCoverage CoverageOf(const std::vector<TViewShape>& views);

// A new view adds coverage when it differs from every stored one by at
// least the margin in position, size or tilt.
bool AddsCoverage(const TViewShape& view, const std::vector<TViewShape>& stored);

// "Coverage X 34% Y 80% size 100% skew 12%" (shares of the sufficient spread).
std::string CoverageLine(const TViewCoverage& coverage);
