#pragma once

// A 9 x 7 board (8 x 6 inner corners) with a white margin, drawn in
// perspective into a 640 x 480 frame, and where its inner corners lie.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

struct DrawnBoard {
  cv::Mat image;
  std::vector<cv::Point2f> corners;  // 8 x 6, row by row
};

// The board's outer corners land on `to` (top left, top right, bottom
// right, bottom left).
inline DrawnBoard DrawBoard(const std::vector<cv::Point2f>& to = {
                                {150, 110}, {470, 135}, {455, 380}, {165, 360}}) {
  constexpr int kSquare = 24;
  cv::Mat flat(9 * kSquare, 11 * kSquare, CV_8UC3, cv::Scalar::all(230));
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 9; ++x) {
      if ((x + y) % 2 == 0) {
        cv::rectangle(flat, cv::Rect((x + 1) * kSquare, (y + 1) * kSquare, kSquare, kSquare),
                      cv::Scalar::all(20), cv::FILLED);
      }
    }
  }
  const std::vector<cv::Point2f> from{{0, 0}, {264, 0}, {264, 216}, {0, 216}};
  const cv::Mat warp = cv::getPerspectiveTransform(from, to);
  DrawnBoard board{cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(80)), {}};
  cv::warpPerspective(flat, board.image, warp, board.image.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
  std::vector<cv::Point2f> flat_corners;
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 8; ++c) flat_corners.emplace_back((c + 2) * kSquare, (r + 2) * kSquare);
  cv::perspectiveTransform(flat_corners, board.corners, warp);
  return board;
}

// The board in pose `pose`: shifted and tilted a little from pose to pose.
inline DrawnBoard DrawBoardInPose(int pose) {
  const float dx = 40.0f * static_cast<float>((pose % 5) - 2),
              dy = 25.0f * static_cast<float>((pose % 3) - 1);
  const float tilt = 18.0f * static_cast<float>((pose % 4) - 1.5);
  return DrawBoard({{150 + dx, 110 + dy - tilt},
                    {470 + dx, 135 + dy + tilt},
                    {455 + dx - tilt, 380 + dy},
                    {165 + dx + tilt, 360 + dy}});
}
