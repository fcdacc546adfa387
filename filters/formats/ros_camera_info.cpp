#include "filters/formats/ros_camera_info.h"

#include <fstream>

#include "filters/formats/format_support.h"

namespace formats {

namespace {

std::string RosMatrix(const char* key, const double* values, int rows, int cols) {
  return std::string(key) + ":\n  rows: " + std::to_string(rows) + "\n  cols: " + std::to_string(cols) +
         "\n  data: " + NumberList(values, rows * cols) + "\n";
}

struct RosCamera {
  cv::Matx33d k, r;
  cv::Vec4d d;
  cv::Matx34d p;
};

bool WriteCamera(const std::string& file, const char* name, cv::Size size, const RosCamera& camera) {
  const double d[5] = {camera.d[0], camera.d[1], camera.d[2], camera.d[3], 0.0};
  std::ofstream out(file);
  out << "image_width: " << size.width << "\nimage_height: " << size.height << "\ncamera_name: " << name
      << "\n"
      << RosMatrix("camera_matrix", camera.k.val, 3, 3) << "distortion_model: plumb_bob\n"
      << RosMatrix("distortion_coefficients", d, 1, 5)
      << RosMatrix("rectification_matrix", camera.r.val, 3, 3)
      << RosMatrix("projection_matrix", camera.p.val, 3, 4);
  return static_cast<bool>(out.flush());
}

std::optional<RosCamera> ReadCamera(const std::string& file, cv::Size& size, std::string& why) {
  auto storage = OpenYaml(file, why);
  if (!storage) return std::nullopt;
  const auto data = [&](const char* key, int count) { return ReadNumbers((*storage)[key]["data"], count); };
  const auto k = data("camera_matrix", 9), d = data("distortion_coefficients", 5);
  const auto r = data("rectification_matrix", 9), p = data("projection_matrix", 12);
  const cv::FileNode width = (*storage)["image_width"], height = (*storage)["image_height"];
  if (!k || !d || !r || !p || !width.isInt() || !height.isInt() ||
      static_cast<std::string>((*storage)["distortion_model"]) != "plumb_bob") {
    why = file + " is not a plumb_bob camera_info";
    return std::nullopt;
  }
  if ((*d)[4] != 0) {
    why = file + ": k3 is not 0; the workbench's lens model has k1, k2, p1, p2 only";
    return std::nullopt;
  }
  size = {static_cast<int>(width), static_cast<int>(height)};
  return RosCamera{cv::Matx33d(k->data()), cv::Matx33d(r->data()), cv::Vec4d(d->data()),
                   cv::Matx34d(p->data())};
}

}  // namespace

bool WriteRosCameraInfo(const std::string& path, const TStereoCalibration& c, std::string& why) {
  const bool rectified = RectificationRefusal(c).empty();
  // A camera not rectified keeps R = I and P = [K | 0], as ROS has it for one camera.
  const auto plain = [](const cv::Matx33d& k) {
    cv::Matx34d p = cv::Matx34d::zeros();
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 3; ++col) p(row, col) = k(row, col);
    return p;
  };
  RosCamera left{c.K1, rectified ? c.R1 : cv::Matx33d::eye(), c.D1, rectified ? c.P1 : plain(c.K1)};
  RosCamera right{c.K2, rectified ? c.R2 : cv::Matx33d::eye(), c.D2, rectified ? c.P2 : plain(c.K2)};
  // OpenCV's P2(0,3) is fx * Tx in mm, ROS's -fx * baseline in metres.
  right.p(0, 3) /= kMillimetresPerMetre;
  right.p(1, 3) /= kMillimetresPerMetre;
  for (const auto& [name, camera] : {std::pair{"left", &left}, {"right", &right}}) {
    const std::string file = FileBeside(path, std::string(name) + ".yaml");
    if (!WriteCamera(file, name, c.ImageSize, *camera))
      return why = "Save: " + file + " can not be written", false;
  }
  return true;
}

std::optional<TStereoCalibration> ReadRosCameraInfo(const std::string& path, std::string& why) {
  TStereoCalibration c;
  cv::Size right_size;
  const auto left = ReadCamera(FileBeside(path, "left.yaml"), c.ImageSize, why);
  const auto right = left ? ReadCamera(FileBeside(path, "right.yaml"), right_size, why) : std::nullopt;
  if (!right) return std::nullopt;
  if (right_size != c.ImageSize) return why = "left.yaml and right.yaml differ in image size", std::nullopt;
  c.K1 = left->k;
  c.D1 = left->d;
  c.K2 = right->k;
  c.D2 = right->d;
  c.R1 = left->r;
  c.R2 = right->r;
  c.P1 = left->p;
  c.P2 = right->p;
  c.P2(0, 3) *= kMillimetresPerMetre;
  c.P2(1, 3) *= kMillimetresPerMetre;
  if (c.P2(0, 3) == 0) return c;  // two cameras, no pair
  // Rectified left X_r = R1 X1; rectified right X_r - (Tx, 0, 0) = R2 X2.
  const double tx = c.P2(0, 3) / c.P2(0, 0);
  c.R = c.R2.t() * c.R1;
  c.T = c.R2.t() * cv::Vec3d(tx, 0, 0);
  const double f = c.P1(0, 0), cx1 = c.P1(0, 2), cy1 = c.P1(1, 2), cx2 = c.P2(0, 2);
  c.Q = cv::Matx44d(1, 0, 0, -cx1, 0, 1, 0, -cy1, 0, 0, 0, f, 0, 0, -1 / tx, (cx1 - cx2) / tx);
  c.Warp = InfinityWarp(c.K1, c.R, c.K2);
  return c;
}

}  // namespace formats
