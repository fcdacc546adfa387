#pragma once

// What the 3D view draws and how it looks at it, without a widget: the
// coloured points of a depth snapshot, the orbiting eye, the lens that makes
// the eye's picture match the left camera's, and the point under a click.

#include <QMatrix4x4>
#include <QPointF>
#include <QSize>
#include <QVector3D>
#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "depth/depth_measure.h"

// The points as the view draws them: positions in the rectified left
// camera's frame (x right, y down, z ahead; the calibration's unit), colours
// 0 ... 1 from the left image, and the map pixel each came from.
struct TCloud {
  std::vector<QVector3D> Positions;
  std::vector<QVector3D> Colours;
  std::vector<cv::Point> Pixels;
  // The median point.
  QVector3D Centre;
  bool Empty() const { return Positions.empty(); }
};

// Every step-th pixel in both directions that has a scene point; none without
// a calibration in the snapshot.
TCloud CloudOf(const TDepthSnapshot& snapshot, int step);

// The left camera's lens as the view borrows it: focal length and principal
// point in pixels of an image of that size.
struct TLens {
  double Focal = 500;
  cv::Point2d Principal{320, 240};
  cv::Size Image{640, 480};
};
// From the rectified left camera (P1); a default lens without a calibration.
TLens LensOf(const TStereoCalibration* calibration, cv::Size image);

// The eye: looking at Target from Distance away, turned by Yaw about the
// camera's vertical and Pitch about its horizontal axis (degrees). Yaw and
// pitch 0 look along the camera's own axis.
struct TOrbit {
  QVector3D Target;
  float Distance = 1000;
  float Yaw_deg = 0;
  float Pitch_deg = 0;
};
// The eye of the left camera itself, turning about the point of its axis at
// the cloud's middle depth.
TOrbit CameraOrbit(const TCloud& cloud);
// Scene (camera frame) to eye coordinates.
QMatrix4x4 ViewMatrix(const TOrbit& orbit);
// Eye to clip coordinates: the lens scaled so the image fills the widget's
// height (centred across), so from the camera's own eye each point lands
// where its pixel shows in the left image.
QMatrix4x4 ProjectionMatrix(const TLens& lens, QSize widget, float near_plane, float far_plane);
// Where a scene point lands in the widget (pixels, y down); none behind the eye.
std::optional<QPointF> ProjectToWidget(const QMatrix4x4& view_projection, QSize widget,
                                       const QVector3D& point);

// The index of the drawn point nearest the click, within radius pixels, the
// nearer to the eye among equally near; none when no point lies that close.
std::optional<size_t> PickPoint(const TCloud& cloud, const QMatrix4x4& view_projection, QSize widget,
                                QPointF click, double radius_px);
