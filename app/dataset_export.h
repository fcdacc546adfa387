#pragma once

// Pairs written as a dataset in the EuRoC / ASL layout under a folder:
//
//   mav0/cam0/data/<ns>.png   mav0/cam0/data.csv   mav0/cam0/sensor.yaml
//   mav0/cam1/data/<ns>.png   mav0/cam1/data.csv   mav0/cam1/sensor.yaml
//
// "data.csv" holds "#timestamp [ns],filename" and a line per image; both
// images of a pair carry the same time stamp. "sensor.yaml" describes the
// camera with the calibration in force: cam0 is the body frame, cam1's T_BS
// is its pose in cam0's frame in metres.

#include <array>
#include <fstream>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

struct TStereoCalibration;

// The text of camera `camera`'s (0, 1) "sensor.yaml"; without a
// calibration, a pinhole model of the image's size and no distortion.
std::string SensorYaml(int camera, const TStereoCalibration* calibration, cv::Size resolution,
                       double rate_hz);

class TDatasetWriter {
 public:
  // Makes the cameras' folders and "data.csv" files under `folder`; false,
  // with the reason, when they can not be made.
  bool Open(const std::string& folder, std::string& why);
  // Both images under the one time; an empty side is left out of its
  // camera, a pair without images altogether. A time not after the last one written goes 1 ns after it, so no
  // image replaces another. False, with the reason, when a file can not be
  // written.
  bool Write(const cv::Mat& left, const cv::Mat& right, int64_t time_ns, std::string& why);
  // Writes both "sensor.yaml" files and closes the lists; false, with the
  // reason, when that fails.
  bool Finish(const TStereoCalibration* calibration, double rate_hz, std::string& why);
  bool IsOpen() const { return !folder_.empty(); }
  int64_t Pairs() const { return pairs_; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string CameraFolder(int camera) const;

  std::string folder_;
  std::array<std::ofstream, 2> lists_;
  std::array<cv::Size, 2> sizes_{};
  int64_t pairs_ = 0;
  int64_t last_time_ns_ = 0;
};

// Exports the recorded pair that `chosen` names (either file, as the
// reader takes it) to `folder`, each pair timed by its stamp file's pair
// time, without one by its frame index over the file's rate. False when
// nothing could be exported; `lines` get what the log is told.
bool ExportRecording(const std::string& chosen, const std::string& folder,
                     const TStereoCalibration* calibration, std::vector<std::string>& lines);

// The same for a folder of image pairs (see app/image_folders.h): a timed
// folder keeps its times, the others go by index at 25 pairs per second. An
// image that can not be read leaves its side out, with a line.
bool ExportImageFolder(const std::string& path, const std::string& folder,
                       const TStereoCalibration* calibration, std::vector<std::string>& lines);
