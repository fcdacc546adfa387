#include "filters/formats/mrcal_cameramodel.h"

#include <fstream>
#include <opencv2/calib3d.hpp>
#include <regex>
#include <sstream>

#include "filters/formats/format_support.h"
#include "filters/storage_guard.h"

namespace formats {

namespace {

struct MrcalModel {
  std::vector<double> intrinsics, extrinsics, imagersize;
};

bool WriteModel(const std::string& file, const cv::Matx33d& k, const cv::Vec4d& d, const cv::Vec6d& rt,
                cv::Size size) {
  const double intrinsics[8] = {k(0, 0), k(1, 1), k(0, 2), k(1, 2), d[0], d[1], d[2], d[3]};
  const double imager[2] = {static_cast<double>(size.width), static_cast<double>(size.height)};
  std::ofstream out(file);
  out << "{\n    'lensmodel': 'LENSMODEL_OPENCV4',\n"
      << "    # intrinsics are fx,fy,cx,cy,distortion0,distortion1,....\n"
      << "    'intrinsics': " << NumberList(intrinsics, 8) << ",\n"
      << "    # extrinsics are rt_fromref\n"
      << "    'extrinsics': " << NumberList(rt.val, 6) << ",\n"
      << "    'imagersize': " << NumberList(imager, 2) << "\n}\n";
  return static_cast<bool>(out.flush());
}

// The numbers of `'key': [ ... ]`; none when missing or not numbers.
std::optional<std::vector<double>> ListOf(const std::string& text, const std::string& key, size_t count) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex("'" + key + R"('\s*:\s*\[([^\]]*)\])"))) return std::nullopt;
  std::vector<double> values;
  std::stringstream list(match[1].str());
  for (std::string item; std::getline(list, item, ',');) {
    if (item.find_first_not_of(" \t\n") == std::string::npos) continue;
    try {
      size_t used = 0;
      values.push_back(std::stod(item, &used));
      if (item.find_first_not_of(" \t\n", item.find_first_not_of(" \t\n") + used) != std::string::npos)
        return std::nullopt;
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  if (values.size() != count) return std::nullopt;
  return values;
}

std::optional<MrcalModel> ReadModel(const std::string& file, std::string& why) {
  if (const auto refusal = StorageFileRefusal(file, false)) return why = *refusal, std::nullopt;
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  const std::string content = std::regex_replace(text.str(), std::regex("#[^\n]*"), "");
  if (!std::regex_search(content, std::regex(R"('lensmodel'\s*:\s*['"]LENSMODEL_OPENCV4['"])"))) {
    why = file + " is not a LENSMODEL_OPENCV4 camera model";
    return std::nullopt;
  }
  auto intrinsics = ListOf(content, "intrinsics", 8), extrinsics = ListOf(content, "extrinsics", 6);
  auto imager = ListOf(content, "imagersize", 2);
  if (!intrinsics || !extrinsics || !imager) {
    why = file + " lacks intrinsics, extrinsics or imagersize";
    return std::nullopt;
  }
  return MrcalModel{*intrinsics, *extrinsics, *imager};
}

cv::Matx33d Rotation(const std::vector<double>& rt) {
  cv::Matx33d r;
  cv::Rodrigues(cv::Vec3d(rt[0], rt[1], rt[2]), r);
  return r;
}

}  // namespace

bool WriteMrcalCameraModels(const std::string& path, const TStereoCalibration& c, std::string& why) {
  cv::Vec6d right = cv::Vec6d::all(0);
  if (PairRefusal(c).empty()) {
    cv::Vec3d r;
    cv::Rodrigues(c.R, r);
    right = {r[0],
             r[1],
             r[2],
             c.T[0] / kMillimetresPerMetre,
             c.T[1] / kMillimetresPerMetre,
             c.T[2] / kMillimetresPerMetre};
  }
  for (const auto& [name, k, d, rt] :
       {std::tuple{"left", c.K1, c.D1, cv::Vec6d::all(0)}, std::tuple{"right", c.K2, c.D2, right}}) {
    const std::string file = FileBeside(path, std::string(name) + ".cameramodel");
    if (!WriteModel(file, k, d, rt, c.ImageSize)) return why = "Save: " + file + " can not be written", false;
  }
  return true;
}

std::optional<TStereoCalibration> ReadMrcalCameraModels(const std::string& path, std::string& why) {
  const auto left = ReadModel(FileBeside(path, "left.cameramodel"), why);
  const auto right = left ? ReadModel(FileBeside(path, "right.cameramodel"), why) : std::nullopt;
  if (!right) return std::nullopt;
  TStereoCalibration c;
  const auto model = [](const std::vector<double>& i, cv::Matx33d& k, cv::Vec4d& d) {
    k = cv::Matx33d(i[0], 0, i[2], 0, i[1], i[3], 0, 0, 1);
    d = cv::Vec4d(i[4], i[5], i[6], i[7]);
  };
  model(left->intrinsics, c.K1, c.D1);
  model(right->intrinsics, c.K2, c.D2);
  c.ImageSize = {static_cast<int>(left->imagersize[0]), static_cast<int>(left->imagersize[1])};
  // Both from one reference: right from left = R_r R_l^T, t_r - R t_l.
  const cv::Matx33d r_left = Rotation(left->extrinsics), r_right = Rotation(right->extrinsics);
  const cv::Vec3d t_left(left->extrinsics[3], left->extrinsics[4], left->extrinsics[5]);
  const cv::Vec3d t_right(right->extrinsics[3], right->extrinsics[4], right->extrinsics[5]);
  c.R = r_right * r_left.t();
  c.T = (t_right - c.R * t_left) * kMillimetresPerMetre;
  RectifyFromPair(c);
  return c;
}

}  // namespace formats
