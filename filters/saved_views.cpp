#include "filters/saved_views.h"

#include <algorithm>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <regex>
#include <system_error>

#include "filters/ucalibfilter.h"

namespace {

constexpr const char* kSettingsFile = "views.yml";

void Say(TCalibrationFilter& calibration, const std::string& line) {
  if (calibration.LogMemo != nullptr) calibration.LogMemo->AppendLine(line);
}

std::string PairFile(const std::string& folder, const std::string& name, char side) {
  return (std::filesystem::path(folder) / (name + side + ".png")).string();
}

bool WriteSettings(const TCalibrationFilter& calibration, const std::string& path) {
  try {
    cv::FileStorage file(path, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_YAML);
    if (!file.isOpened()) return false;
    file << "board_width" << calibration.BoardWidth << "board_height" << calibration.BoardHeight;
    file << "square_size_mm" << calibration.SquareSize_mm << "sub_pixel" << (calibration.SubPixel ? 1 : 0);
    return true;
  } catch (const cv::Exception&) {
    return false;
  }
}

}  // namespace

bool SaveViews(TCalibrationFilter& calibration, const std::string& folder) {
  if (calibration.CameraCount() != 2 || calibration.Cameras[0].ViewCount == 0) {
    Say(calibration, "Save views: no views collected");
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!WriteSettings(calibration, (std::filesystem::path(folder) / kSettingsFile).string())) {
    Say(calibration, "Save views: " + folder + " can not be written");
    return false;
  }
  const int views = calibration.Cameras[0].ViewCount;
  for (int v = 0; v < views; ++v) {
    const std::string name = FormatLine("%02d", v + 1);
    for (const char side : {'L', 'R'}) {
      const cv::Mat& frame = calibration.Cameras[side == 'L' ? 0 : 1].ViewFrames[static_cast<size_t>(v)];
      bool written = false;
      try {
        written = cv::imwrite(PairFile(folder, name, side), frame);
      } catch (const cv::Exception&) {
      }
      if (!written) {
        Say(calibration, "Save views: " + PairFile(folder, name, side) + " can not be written");
        return false;
      }
    }
  }
  Say(calibration, FormatLine("Saved %d views to %s", views, folder.c_str()));
  return true;
}

std::optional<TViewsSettings> ReadViewsSettings(const std::string& folder, std::string& why) {
  const std::string path = (std::filesystem::path(folder) / kSettingsFile).string();
  why = "Load views: " + path + " is missing or damaged";
  TViewsSettings settings;
  try {
    cv::FileStorage file(path, cv::FileStorage::READ);
    if (!file.isOpened()) return std::nullopt;
    settings.BoardWidth = static_cast<int>(file["board_width"]);
    settings.BoardHeight = static_cast<int>(file["board_height"]);
    settings.SquareSize_mm = static_cast<double>(file["square_size_mm"]);
    settings.SubPixel = static_cast<int>(file["sub_pixel"]) != 0;
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  if (settings.BoardWidth < TCalibrationFilter::MinCorners ||
      settings.BoardHeight < TCalibrationFilter::MinCorners || !(settings.SquareSize_mm > 0)) {
    return std::nullopt;
  }
  why.clear();
  return settings;
}

std::vector<std::string> ViewPairNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  const std::regex left_file(R"((\d+)L\.png)");
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::smatch match;
    const std::string file = entry.path().filename().string();
    if (std::regex_match(file, match, left_file) &&
        std::filesystem::exists(PairFile(folder, match[1].str(), 'R'), error)) {
      names.push_back(match[1].str());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

int LoadViewPairs(TCalibrationFilter& calibration, const std::string& folder,
                  const std::vector<std::string>& names) {
  calibration.ClearViews();
  for (const std::string& name : names) {
    std::vector<cv::Mat> pair;
    for (const char side : {'L', 'R'}) {
      cv::Mat frame;
      try {
        frame = cv::imread(PairFile(folder, name, side), cv::IMREAD_UNCHANGED);
      } catch (const cv::Exception&) {
      }
      pair.push_back(frame);
    }
    const cv::Size first_size = calibration.Cameras[0].ViewSize;
    if (pair[0].empty() || pair[1].empty()) {
      Say(calibration, "Load views: " + name + "L.png or " + name + "R.png can not be read");
    } else if (pair[0].size() != pair[1].size() || (!first_size.empty() && pair[0].size() != first_size)) {
      Say(calibration, "Load views: " + name + "L.png and " + name + "R.png differ in size from the views");
    } else {
      calibration.FindCorners(pair);
      const int before = calibration.Cameras[0].ViewCount;
      calibration.PushView();
      if (calibration.Cameras[0].ViewCount == before)
        Say(calibration, "Load views: no whole board in pair " + name);
    }
  }
  const int views = calibration.Cameras[0].ViewCount;
  Say(calibration, FormatLine("Loaded %d views of %d pairs from %s; ready to calibrate", views,
                              static_cast<int>(names.size()), folder.c_str()));
  return views;
}
