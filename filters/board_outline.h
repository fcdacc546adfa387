#pragma once

// Whether a found chessboard is the whole board: a search for fewer corners
// than the board has finds a part of it, shifted from image to image, and
// such views would pair different corners of the two cameras.

#include <opencv2/core.hpp>
#include <vector>

// True when chessboard corners continue one square beyond an edge of the
// found grid (corners row by row, pattern = corners across and down).
bool BoardExtendsBeyond(const cv::Mat& image, const std::vector<cv::Point2f>& corners, cv::Size pattern);
