#include "app/view3d_cloud.h"

#include <QVector4D>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QVector3D ColourAt(const cv::Mat& left, int x, int y) {
  if (left.empty() || x >= left.cols || y >= left.rows || left.depth() != CV_8U) return {0.7F, 0.7F, 0.7F};
  if (left.channels() == 1) {
    const float grey = left.at<uint8_t>(y, x) / 255.0F;
    return {grey, grey, grey};
  }
  if (left.channels() != 3) return {0.7F, 0.7F, 0.7F};
  const cv::Vec3b bgr = left.at<cv::Vec3b>(y, x);
  return {bgr[2] / 255.0F, bgr[1] / 255.0F, bgr[0] / 255.0F};
}

float Median(std::vector<float>& values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

QVector3D MedianPoint(const std::vector<QVector3D>& points) {
  std::array<std::vector<float>, 3> axes;
  for (auto& axis : axes) axis.reserve(points.size());
  for (const QVector3D& point : points) {
    for (int i = 0; i < 3; ++i) axes[static_cast<size_t>(i)].push_back(point[i]);
  }
  return {Median(axes[0]), Median(axes[1]), Median(axes[2])};
}

}  // namespace

TCloud CloudOf(const TDepthSnapshot& snapshot, int step) {
  TCloud cloud;
  if (snapshot.Calibration == nullptr || snapshot.Disparity16.empty() || step < 1) return cloud;
  const cv::Mat points = PointsOf(snapshot.Disparity16, snapshot.MinDisparity, *snapshot.Calibration);
  for (int y = 0; y < points.rows; y += step) {
    const auto* row = points.ptr<cv::Vec3f>(y);
    for (int x = 0; x < points.cols; x += step) {
      const cv::Vec3f& point = row[x];
      if (!std::isfinite(point[0]) || !std::isfinite(point[1]) || !std::isfinite(point[2])) continue;
      cloud.Positions.emplace_back(point[0], point[1], point[2]);
      cloud.Colours.push_back(ColourAt(snapshot.Left, x, y));
      cloud.Pixels.emplace_back(x, y);
    }
  }
  if (!cloud.Empty()) cloud.Centre = MedianPoint(cloud.Positions);
  return cloud;
}

TLens LensOf(const TStereoCalibration* calibration, cv::Size image) {
  TLens lens;
  lens.Image = image.area() > 0 ? image : lens.Image;
  if (calibration == nullptr || calibration->P1(0, 0) <= 0) {
    lens.Focal = lens.Image.width;
    lens.Principal = {lens.Image.width / 2.0, lens.Image.height / 2.0};
    return lens;
  }
  // The rectified lens is the same across and down; P1 may be for another size.
  const double scale = calibration->ImageSize.height > 0
                           ? static_cast<double>(lens.Image.height) / calibration->ImageSize.height
                           : 1;
  lens.Focal = calibration->P1(1, 1) * scale;
  lens.Principal = {calibration->P1(0, 2) * scale, calibration->P1(1, 2) * scale};
  return lens;
}

TOrbit CameraOrbit(const TCloud& cloud) {
  // The camera's own eye looks along its axis: the eye turns about the point
  // of that axis at the cloud's middle depth.
  TOrbit orbit;
  orbit.Distance = cloud.Empty() ? 1000.0F : std::max(cloud.Centre.z(), 1.0F);
  orbit.Target = QVector3D(0, 0, orbit.Distance);
  return orbit;
}

QMatrix4x4 ViewMatrix(const TOrbit& orbit) {
  QMatrix4x4 turn;
  turn.rotate(orbit.Yaw_deg, 0, 1, 0);
  turn.rotate(orbit.Pitch_deg, 1, 0, 0);
  const QVector3D ahead = turn.map(QVector3D(0, 0, 1));
  // The camera frame's y points down.
  const QVector3D up = turn.map(QVector3D(0, -1, 0));
  QMatrix4x4 view;
  view.lookAt(orbit.Target - orbit.Distance * ahead, orbit.Target, up);
  return view;
}

QMatrix4x4 ProjectionMatrix(const TLens& lens, QSize widget, float near_plane, float far_plane) {
  const double scale = widget.height() > 0 ? static_cast<double>(widget.height()) / lens.Image.height : 1;
  const double focal = lens.Focal * scale;
  const double across = lens.Principal.x * scale + (widget.width() - lens.Image.width * scale) / 2;
  const double down = lens.Principal.y * scale;
  const double per_pixel = near_plane / focal;
  QMatrix4x4 projection;
  projection.frustum(static_cast<float>(-across * per_pixel),
                     static_cast<float>((widget.width() - across) * per_pixel),
                     static_cast<float>((down - widget.height()) * per_pixel),
                     static_cast<float>(down * per_pixel), near_plane, far_plane);
  return projection;
}

std::optional<QPointF> ProjectToWidget(const QMatrix4x4& view_projection, QSize widget,
                                       const QVector3D& point) {
  const QVector4D clip = view_projection * QVector4D(point, 1.0F);
  if (clip.w() <= 0) return std::nullopt;
  return QPointF((clip.x() / clip.w() + 1) / 2 * widget.width(),
                 (1 - clip.y() / clip.w()) / 2 * widget.height());
}

std::optional<size_t> PickPoint(const TCloud& cloud, const QMatrix4x4& view_projection, QSize widget,
                                QPointF click, double radius_px) {
  std::optional<size_t> best;
  double best_distance = radius_px * radius_px;
  float best_depth = std::numeric_limits<float>::max();
  for (size_t i = 0; i < cloud.Positions.size(); ++i) {
    const QVector4D clip = view_projection * QVector4D(cloud.Positions[i], 1.0F);
    if (clip.w() <= 0) continue;
    const double dx = (clip.x() / clip.w() + 1) / 2 * widget.width() - click.x();
    const double dy = (1 - clip.y() / clip.w()) / 2 * widget.height() - click.y();
    const double distance = dx * dx + dy * dy;
    // Within a pixel counts as equally near: then the nearer to the eye wins.
    const bool closer =
        distance + 1 < best_distance || (distance <= best_distance + 1 && clip.w() < best_depth);
    if (distance <= radius_px * radius_px && closer) {
      best = i;
      best_distance = distance;
      best_depth = clip.w();
    }
  }
  return best;
}
