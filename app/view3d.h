#pragma once

// The "3D view" window: the newest point cloud of the shown disparity map,
// coloured from the left image, seen from an eye the mouse moves. A click on a
// point tells its X, Y, Z; a second click the distance between the two.

#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "app/view3d_cloud.h"

class QLabel;
class QOpenGLShaderProgram;
class QPushButton;
class QTimer;
struct TDisparityResult;

// True when this platform can make OpenGL contexts (a virtual X server with
// Mesa can; Qt's offscreen platform can not).
bool OpenGLAvailable();

// The drawing: points, the left camera's place and axes, and the picked marks.
// Left drag orbits, right or middle drag (or shift with the left) pans, the
// wheel zooms; a left click without a drag picks the point under it.
class TCloudView : public QOpenGLWidget, protected QOpenGLFunctions {
  Q_OBJECT

 public:
  explicit TCloudView(QWidget* parent = nullptr);
  ~TCloudView() override;

  // The first cloud also sets the eye to the camera's; later ones keep it.
  void SetCloud(TCloud cloud, const TLens& lens);
  const TCloud& Cloud() const { return cloud_; }
  void ResetView();
  const TOrbit& Orbit() const { return orbit_; }
  void SetOrbit(const TOrbit& orbit);
  void SetMarks(const std::vector<QVector3D>& marks);
  // Scene to clip coordinates as the last picture was drawn.
  QMatrix4x4 ViewProjection() const;

 signals:
  // A click landed on the cloud's point of that index.
  void PointPicked(size_t index);
  // A click landed on no point.
  void NothingPicked();

 protected:
  void initializeGL() override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void DrawArrays(GLenum mode, const std::vector<QVector3D>& positions,
                  const std::vector<QVector3D>& colours);
  void DrawCamera();
  void Pan(QPointF by);

  std::unique_ptr<QOpenGLShaderProgram> program_;
  TCloud cloud_;
  TLens lens_;
  TOrbit orbit_;
  bool has_view_ = false;
  std::vector<QVector3D> marks_;
  QPointF pressed_at_;
  QPointF last_at_;
  bool dragged_ = false;
};

class TView3D : public QWidget {
  Q_OBJECT

 public:
  explicit TView3D(QWidget* parent = nullptr);
  ~TView3D() override;

  // Null where OpenGL is not available (a line says so instead).
  TCloudView* CloudView() const { return view_; }
  QPushButton* BuReset;
  // The point or distance picked, or why there is nothing to see.
  QLabel* LaMeasure;

  // Takes the shown map when it is newer than the cloud drawn.
  void Refresh();
  // A pick of a cloud point, as a click on it gives.
  void PickPixel(cv::Point pixel);
  void ClearMeasure();

 protected:
  // Escape clears the points picked, as on the panes.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowMeasure(const QString& text);

  TCloudView* view_ = nullptr;
  QTimer* poll_timer_;
  std::shared_ptr<const TDisparityResult> shown_;
  std::vector<TProbe> probes_;
};

// Opens the one 3D view (made on first use) and brings it to the front.
TView3D* ShowView3D();
// The 3D view if it was made; null otherwise.
TView3D* View3D();
// Puts a "3D view" button that opens the view into the dialog's own column
// of controls, above its last row (the status line).
QPushButton* AddView3DButton(QWidget* dialog);
