#include "filters/formats/kalibr_camchain.h"

#include <fstream>

#include "filters/formats/format_support.h"

namespace formats {

namespace {

std::string KalibrCamera(const cv::Matx33d& k, const cv::Vec4d& d, cv::Size size) {
  const double intrinsics[4] = {k(0, 0), k(1, 1), k(0, 2), k(1, 2)};
  const double resolution[2] = {static_cast<double>(size.width), static_cast<double>(size.height)};
  return "  camera_model: pinhole\n  intrinsics: " + NumberList(intrinsics, 4) +
         "\n  distortion_model: radtan\n  distortion_coeffs: " + NumberList(d.val, 4) +
         "\n  resolution: " + NumberList(resolution, 2) + "\n";
}

bool ReadCamera(const cv::FileNode& node, cv::Matx33d& k, cv::Vec4d& d, cv::Size& size) {
  const auto intrinsics = ReadNumbers(node["intrinsics"], 4),
             coeffs = ReadNumbers(node["distortion_coeffs"], 4);
  const auto resolution = ReadNumbers(node["resolution"], 2);
  if (!intrinsics || !coeffs || !resolution || static_cast<std::string>(node["camera_model"]) != "pinhole" ||
      static_cast<std::string>(node["distortion_model"]) != "radtan")
    return false;
  const auto& i = *intrinsics;
  k = cv::Matx33d(i[0], 0, i[2], 0, i[1], i[3], 0, 0, 1);
  d = cv::Vec4d(coeffs->data());
  size = {static_cast<int>((*resolution)[0]), static_cast<int>((*resolution)[1])};
  return true;
}

}  // namespace

bool WriteKalibrCamchain(const std::string& path, const TStereoCalibration& c, std::string& why) {
  std::ofstream out(path);
  out << "cam0:\n" << KalibrCamera(c.K1, c.D1, c.ImageSize) << "cam1:\n";
  if (PairRefusal(c).empty()) {
    out << "  T_cn_cnm1:\n";
    for (int row = 0; row < 3; ++row) {
      const double line[4] = {c.R(row, 0), c.R(row, 1), c.R(row, 2), c.T[row] / kMillimetresPerMetre};
      out << "  - " << NumberList(line, 4) << "\n";
    }
    out << "  - [0.0, 0.0, 0.0, 1.0]\n";
  }
  out << KalibrCamera(c.K2, c.D2, c.ImageSize);
  if (!out.flush()) return why = "Save: " + path + " can not be written", false;
  return true;
}

std::optional<TStereoCalibration> ReadKalibrCamchain(const std::string& path, std::string& why) {
  auto file = OpenYaml(path, why);
  if (!file) return std::nullopt;
  TStereoCalibration c;
  cv::Size right_size;
  if (!ReadCamera((*file)["cam0"], c.K1, c.D1, c.ImageSize) ||
      !ReadCamera((*file)["cam1"], c.K2, c.D2, right_size)) {
    why = path + " has no pinhole radtan cam0 and cam1";
    return std::nullopt;
  }
  const cv::FileNode chain = (*file)["cam1"]["T_cn_cnm1"];
  if (chain.empty()) return c;
  if (!chain.isSeq() || chain.size() != 4) return why = path + ": T_cn_cnm1 is not 4 x 4", std::nullopt;
  for (int row = 0; row < 3; ++row) {
    const auto line = ReadNumbers(chain[row], 4);
    if (!line) return why = path + ": T_cn_cnm1 is not 4 x 4", std::nullopt;
    for (int col = 0; col < 3; ++col) c.R(row, col) = (*line)[col];
    c.T[row] = (*line)[3] * kMillimetresPerMetre;
  }
  RectifyFromPair(c);
  return c;
}

}  // namespace formats
