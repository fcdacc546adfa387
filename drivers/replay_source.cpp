#include "drivers/replay_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <system_error>

#include "drivers/frame_renderer.h"

namespace sim {

std::vector<std::string> ListPairSide(const std::string& folder, char side) {
  namespace fs = std::filesystem;
  const char other = side == 'L' ? 'R' : 'L';
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error)) continue;
    const fs::path& path = entry.path();
    const std::string stem = path.stem().string();
    if (stem.empty() || stem.back() != side) continue;
    fs::path partner = path;
    partner.replace_filename(stem.substr(0, stem.size() - 1) + other + path.extension().string());
    if (fs::is_regular_file(partner, error)) files.push_back(path.string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

ReplaySource::ReplaySource(const std::string& folder, uint32_t camera_id, double frames_per_second)
    : files_(ListPairSide(folder, camera_id % 2 == 1 ? 'L' : 'R')), frames_per_second_(frames_per_second) {}

bool ReplaySource::Copy(const FrameRequest& request) {
  const auto frame =
      static_cast<int64_t>(std::floor(std::max(0.0, request.scene_time_s) * frames_per_second_));
  const size_t index = static_cast<size_t>(frame % static_cast<int64_t>(files_.size()));
  if (index != cached_index_) {
    cached_ = cv::imread(files_[index], cv::IMREAD_COLOR);
    cached_index_ = index;
  }
  if (cached_.empty()) return false;
  const int type = request.colour_mode == IS_CM_MONO8   ? CV_8UC1
                   : request.colour_mode == IS_CM_BGR24 ? CV_8UC3
                                                        : CV_8UC4;
  cv::Mat target(request.height, request.width, type, request.pixels, static_cast<size_t>(request.pitch));
  cv::Mat sized;
  cv::resize(cached_, sized, target.size(), 0, 0, cv::INTER_AREA);
  if (type == CV_8UC1) {
    cv::cvtColor(sized, target, cv::COLOR_BGR2GRAY);
  } else if (type == CV_8UC4) {
    cv::cvtColor(sized, target, cv::COLOR_BGR2BGRA);
  } else {
    sized.copyTo(target);
  }
  return true;
}

}  // namespace sim
