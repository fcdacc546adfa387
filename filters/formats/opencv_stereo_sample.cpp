#include "filters/formats/opencv_stereo_sample.h"

#include <filesystem>

#include "filters/formats/format_support.h"
#include "filters/storage_guard.h"

namespace formats {

namespace {

cv::Mat WithK3(const cv::Vec4d& d) { return (cv::Mat_<double>(1, 5) << d[0], d[1], d[2], d[3], 0.0); }

template <int Rows, int Cols>
bool Read(const cv::FileStorage& file, const char* key, cv::Matx<double, Rows, Cols>& out) {
  cv::Mat value;
  try {
    file[key] >> value;
  } catch (const cv::Exception&) {
    return false;
  }
  if (value.total() != static_cast<size_t>(Rows * Cols) || value.channels() != 1) return false;
  value.reshape(1, Rows).convertTo(value, CV_64F);
  if (!cv::checkRange(value)) return false;
  out = cv::Matx<double, Rows, Cols>(value.ptr<double>());
  return true;
}

// k1, k2, p1, p2 of a 1 x 5 vector whose k3 is 0.
bool ReadLens(const cv::FileStorage& file, const char* key, cv::Vec4d& d) {
  cv::Matx<double, 1, 5> five;
  if (!Read(file, key, five) || five(0, 4) != 0) return false;
  d = cv::Vec4d(five.val);
  return true;
}

std::optional<cv::FileStorage> Open(const std::string& file, std::string& why) {
  if (const auto refusal = StorageFileRefusal(file)) return why = *refusal, std::nullopt;
  try {
    cv::FileStorage storage(file, cv::FileStorage::READ);
    if (storage.isOpened()) return storage;
  } catch (const cv::Exception&) {
  }
  return why = file + " can not be read", std::nullopt;
}

}  // namespace

bool WriteOpenCvStereoSample(const std::string& path, const TStereoCalibration& c, std::string& why) {
  try {
    cv::FileStorage intrinsics(FileBeside(path, "intrinsics.yml"), cv::FileStorage::WRITE);
    if (!intrinsics.isOpened()) return why = "Save: intrinsics.yml can not be written", false;
    intrinsics << "M1" << cv::Mat(c.K1) << "D1" << WithK3(c.D1) << "M2" << cv::Mat(c.K2) << "D2"
               << WithK3(c.D2);
    if (!RectificationRefusal(c).empty()) return true;
    cv::FileStorage extrinsics(FileBeside(path, "extrinsics.yml"), cv::FileStorage::WRITE);
    if (!extrinsics.isOpened()) return why = "Save: extrinsics.yml can not be written", false;
    extrinsics << "R" << cv::Mat(c.R) << "T" << cv::Mat(c.T) << "R1" << cv::Mat(c.R1) << "R2" << cv::Mat(c.R2)
               << "P1" << cv::Mat(c.P1) << "P2" << cv::Mat(c.P2) << "Q" << cv::Mat(c.Q);
  } catch (const cv::Exception& error) {
    why = "Save: " + error.err;
    return false;
  }
  return true;
}

std::optional<TStereoCalibration> ReadOpenCvStereoSample(const std::string& path, std::string& why) {
  TStereoCalibration c;
  const auto intrinsics = Open(FileBeside(path, "intrinsics.yml"), why);
  if (!intrinsics) return std::nullopt;
  if (!Read(*intrinsics, "M1", c.K1) || !ReadLens(*intrinsics, "D1", c.D1) ||
      !Read(*intrinsics, "M2", c.K2) || !ReadLens(*intrinsics, "D2", c.D2)) {
    why = "intrinsics.yml has no M1, D1, M2, D2 of k1, k2, p1, p2 (k3 0)";
    return std::nullopt;
  }
  const std::string extrinsics_file = FileBeside(path, "extrinsics.yml");
  std::error_code error;
  if (!std::filesystem::exists(extrinsics_file, error)) return c;
  const auto extrinsics = Open(extrinsics_file, why);
  if (!extrinsics) return std::nullopt;
  cv::Matx<double, 3, 1> t;
  if (!Read(*extrinsics, "R", c.R) || !Read(*extrinsics, "T", t) || !Read(*extrinsics, "R1", c.R1) ||
      !Read(*extrinsics, "R2", c.R2) || !Read(*extrinsics, "P1", c.P1) || !Read(*extrinsics, "P2", c.P2) ||
      !Read(*extrinsics, "Q", c.Q)) {
    why = "extrinsics.yml lacks R, T, R1, R2, P1, P2 or Q";
    return std::nullopt;
  }
  c.T = cv::Vec3d(t.val);
  c.Warp = InfinityWarp(c.K1, c.R, c.K2);
  return c;
}

}  // namespace formats
