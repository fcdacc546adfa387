#include "app/dataset_export.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <optional>

#include "app/avifiles.h"
#include "app/image_folders.h"
#include "app/pair_stamps.h"
#include "app/playback_index.h"
#include "filters/formats/format_support.h"
#include "filters/stereo_calibration.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kListHeader = "#timestamp [ns],filename";
// A recording whose file tells no rate is taken at the video rate.
constexpr double kUnknownRate = 25.0;

// cam1's pose in cam0's frame: the inverse of X1 = R * X0 + T.
cv::Matx44d RightInLeft(const TStereoCalibration& calibration) {
  const double to_metres = calibration.SquareSize_mm > 0 ? 1.0 / formats::kMillimetresPerMetre : 1.0;
  const cv::Matx33d back = calibration.R.t();
  const cv::Vec3d origin = -(back * calibration.T) * to_metres;
  cv::Matx44d pose = cv::Matx44d::eye();
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) pose(row, column) = back(row, column);
    pose(row, 3) = origin[row];
  }
  return pose;
}

std::string PoseLines(const cv::Matx44d& pose) {
  return "T_BS:\n  cols: 4\n  rows: 4\n  data: " + formats::NumberList(pose.val, 16) + "\n";
}

}  // namespace

std::string SensorYaml(int camera, const TStereoCalibration* calibration, cv::Size resolution,
                       double rate_hz) {
  std::string text = "# " + std::string(camera == 0 ? "Left" : "Right") + " camera of the stereo pair.\n";
  text += "sensor_type: camera\ncomment: cam" + std::to_string(camera) + "\n";
  cv::Matx44d pose = cv::Matx44d::eye();
  if (camera == 1 && calibration != nullptr && PairRefusal(*calibration).empty()) {
    pose = RightInLeft(*calibration);
    if (calibration->SquareSize_mm <= 0)
      text += "# T_BS in board squares: the board's square size was not known.\n";
  } else if (camera == 1) {
    text += "# The pair was not calibrated together: T_BS is not measured.\n";
  }
  text += PoseLines(pose);
  const double size[2] = {static_cast<double>(resolution.width), static_cast<double>(resolution.height)};
  const std::string rate = formats::NumberList(&rate_hz, 1);
  text += "rate_hz: " + rate.substr(1, rate.size() - 2) + "\nresolution: " + formats::NumberList(size, 2) +
          "\ncamera_model: pinhole\n";
  cv::Matx33d k(size[0], 0, size[0] / 2, 0, size[0], size[1] / 2, 0, 0, 1);
  cv::Vec4d d = cv::Vec4d::all(0);
  if (calibration != nullptr) {
    k = camera == 0 ? calibration->K1 : calibration->K2;
    d = camera == 0 ? calibration->D1 : calibration->D2;
  } else {
    text += "# No calibration in force: a nominal model.\n";
  }
  const double intrinsics[4] = {k(0, 0), k(1, 1), k(0, 2), k(1, 2)};
  text += "intrinsics: " + formats::NumberList(intrinsics, 4) + " # fu, fv, cu, cv\n";
  text +=
      "distortion_model: radial-tangential\ndistortion_coefficients: " + formats::NumberList(d.val, 4) + "\n";
  return text;
}

std::string TDatasetWriter::CameraFolder(int camera) const {
  return (fs::path(folder_) / "mav0" / ("cam" + std::to_string(camera))).string();
}

bool TDatasetWriter::Open(const std::string& folder, std::string& why) {
  folder_ = folder;
  pairs_ = 0;
  sizes_ = {};
  for (int camera = 0; camera < 2; ++camera) {
    std::error_code error;
    fs::create_directories(fs::path(CameraFolder(camera)) / "data", error);
    lists_[camera].close();
    lists_[camera].open(CameraFolder(camera) + "/data.csv", std::ios::out | std::ios::trunc);
    if (error || !(lists_[camera] << kListHeader << '\n')) {
      why = "Export: folder " + CameraFolder(camera) + " can not be written";
      folder_.clear();
      return false;
    }
  }
  return true;
}

bool TDatasetWriter::Write(const cv::Mat& left, const cv::Mat& right, int64_t time_ns, std::string& why) {
  if (!IsOpen()) return why = "Export: no dataset open", false;
  if (left.empty() && right.empty()) return true;
  if (pairs_ > 0 && time_ns <= last_time_ns_) time_ns = last_time_ns_ + 1;
  const std::string name = std::to_string(time_ns) + ".png";
  const cv::Mat* images[2] = {&left, &right};
  for (int camera = 0; camera < 2; ++camera) {
    const cv::Mat& image = *images[camera];
    if (image.empty()) continue;
    const std::string path = CameraFolder(camera) + "/data/" + name;
    bool written = false;
    try {
      written = cv::imwrite(path, image);
    } catch (const cv::Exception&) {
      written = false;
    }
    if (!written || !(lists_[camera] << time_ns << ',' << name << '\n')) {
      why = "Export: " + path + " can not be written";
      return false;
    }
    sizes_[camera] = image.size();
  }
  last_time_ns_ = time_ns;
  ++pairs_;
  return true;
}

bool TDatasetWriter::Finish(const TStereoCalibration* calibration, double rate_hz, std::string& why) {
  if (!IsOpen()) return why = "Export: no dataset open", false;
  bool done = true;
  for (int camera = 0; camera < 2; ++camera) {
    lists_[camera].close();
    const cv::Size size = sizes_[camera].empty() ? sizes_[1 - camera] : sizes_[camera];
    std::ofstream yaml(CameraFolder(camera) + "/sensor.yaml");
    if (!(yaml << SensorYaml(camera, calibration, size, rate_hz)) || lists_[camera].fail()) {
      why = "Export: " + CameraFolder(camera) + " can not be written";
      done = false;
    }
  }
  folder_.clear();
  return done;
}

namespace {

// One pair of a source by its index: false when there are no more.
using PairReader = std::function<bool(size_t pair, cv::Mat& left, cv::Mat& right)>;

// Writes every pair the reader gives under its time; `what` names the
// source in the log.
bool ExportPairs(const PairReader& next, const std::function<int64_t(size_t)>& time_of, double rate,
                 const std::string& what, const std::string& folder, const TStereoCalibration* calibration,
                 std::vector<std::string>& lines) {
  std::string why;
  TDatasetWriter writer;
  bool written = writer.Open(folder, why);
  for (size_t pair = 0; written; ++pair) {
    cv::Mat left, right;
    if (!next(pair, left, right)) break;
    written = writer.Write(left, right, time_of(pair), why);
  }
  const int64_t pairs = writer.Pairs();
  if (!written || !writer.Finish(calibration, rate, why)) {
    lines.push_back(why);
    return false;
  }
  lines.push_back("Export: " + std::to_string(pairs) + " pairs of " + what + " written to " + folder);
  return true;
}

int64_t IndexTime(size_t pair, double rate) { return std::llround(static_cast<double>(pair) * 1e9 / rate); }

}  // namespace

bool ExportRecording(const std::string& chosen, const std::string& folder,
                     const TStereoCalibration* calibration, std::vector<std::string>& lines) {
  const PairNames names = ReaderPairNames(chosen);
  TAviReader readers[2];
  const bool opened[2] = {readers[0].Open(names.Left), readers[1].Open(names.Right)};
  if (!opened[0] && !opened[1]) {
    lines.push_back("Export: no file of " + chosen + " can be read");
    return false;
  }
  const double file_rate = readers[opened[0] ? 0 : 1].FrameRate();
  const double rate = file_rate > 0 ? file_rate : kUnknownRate;
  std::string why;
  const std::vector<TPairStamp> stamps = UsableStamps(StampFileName(RecordedName(chosen)), why);
  if (!why.empty()) lines.push_back(why);
  const auto next = [&](size_t, cv::Mat& left, cv::Mat& right) {
    cv::Mat* frames[2] = {&left, &right};
    bool any = false;
    for (int side = 0; side < 2; ++side) {
      if (opened[side] && readers[side].Next(*frames[side]) == TAviReader::Result::Frame) {
        any = true;
      } else {
        frames[side]->release();
      }
    }
    return any;
  };
  const auto time_of = [&](size_t pair) {
    return pair < stamps.size() && stamps[pair].Time_ns > 0 ? stamps[pair].Time_ns : IndexTime(pair, rate);
  };
  return ExportPairs(next, time_of, rate, chosen, folder, calibration, lines);
}

bool ExportImageFolder(const std::string& path, const std::string& folder,
                       const TStereoCalibration* calibration, std::vector<std::string>& lines) {
  std::string why;
  const std::optional<TImageFolder> pairs = ReadImageFolder(path, why);
  if (!pairs) {
    lines.push_back("Export: " + why);
    return false;
  }
  lines.insert(lines.end(), pairs->Lines.begin(), pairs->Lines.end());
  const std::vector<TFolderPair>& list = pairs->Pairs;
  // A timed folder's rate from its first and last times.
  const int64_t span = list.back().Time_ns - list.front().Time_ns;
  const double rate = pairs->Timed && list.size() > 1 && span > 0
                          ? static_cast<double>(list.size() - 1) * 1e9 / static_cast<double>(span)
                          : kUnknownRate;
  const auto next = [&](size_t pair, cv::Mat& left, cv::Mat& right) {
    if (pair >= list.size()) return false;
    const std::pair<const std::string*, cv::Mat*> sides[] = {{&list[pair].Left, &left},
                                                             {&list[pair].Right, &right}};
    for (const auto& [file, image] : sides) {
      if (file->empty()) continue;
      std::optional<cv::Mat> read = ReadFolderImage(*file, why);
      if (read) {
        *image = *read;
      } else {
        lines.push_back(why);
      }
    }
    return true;
  };
  const auto time_of = [&](size_t pair) { return pairs->Timed ? list[pair].Time_ns : IndexTime(pair, rate); };
  return ExportPairs(next, time_of, rate, path, folder, calibration, lines);
}
