#pragma once

// Folders of image pairs that play back like a recorded pair of files:
// - a dataset in the EuRoC / ASL layout: "mav0/cam0/data.csv" and
//   "mav0/cam1/data.csv" (the folder holding "mav0", or "mav0" itself),
//   the images of one time stamp making a pair, timed by their stamps;
// - "left/" and "right/" subfolders, the images of one file name a pair;
// - images "<name>L.<ext>" and "<name>R.<ext>" side by side, one <name> a
//   pair.
// Pairs go in the names' order, numbers counted as numbers ("2" before
// "10"). A pair missing one side plays as a one-sided pair.

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

struct TFolderPair {
  // Empty when that side has no image.
  std::string Left;
  std::string Right;
  // The pair's time in nanoseconds; 0 in a folder without times.
  int64_t Time_ns = 0;
};

struct TImageFolder {
  std::string Path;
  std::vector<TFolderPair> Pairs;
  bool Timed = false;
  // What was found wrong while reading it, one log line each.
  std::vector<std::string> Lines;
};

// The pairs of a folder; none, with the reason, when it holds none.
std::optional<TImageFolder> ReadImageFolder(const std::string& folder, std::string& why);

// An image of a folder as the reader gives frames (8-bit, one or three
// channels); none, with the reason, when it can not be read.
std::optional<cv::Mat> ReadFolderImage(const std::string& path, std::string& why);
