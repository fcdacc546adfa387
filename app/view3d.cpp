#include "app/view3d.h"

#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/Unit1.h"
#include "filters/disparity_filter.h"

namespace {

TView3D* view3d_instance = nullptr;

// One point in this many across and down: a quarter of the pixels keep the
// cloud dense and the drawing quick on a software renderer.
constexpr int kCloudStep = 2;
constexpr double kPickRadius_px = 6;
// Mouse travel below this is a click, not a drag.
constexpr double kClickSlop_px = 3;
constexpr float kOrbitDegreesPerPixel = 0.4F;
const QVector3D kBackground(0.11F, 0.16F, 0.32F);

constexpr const char* kVertexShader = R"(
attribute vec3 position;
attribute vec3 colour;
uniform mat4 matrix;
varying vec3 shade;
void main() {
  gl_Position = matrix * vec4(position, 1.0);
  shade = colour;
})";

constexpr const char* kFragmentShader = R"(
varying vec3 shade;
void main() { gl_FragColor = vec4(shade, 1.0); })";

}  // namespace

bool OpenGLAvailable() {
  static const bool available = [] {
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    return context.create() && context.makeCurrent(&surface);
  }();
  return available;
}

TCloudView::TCloudView(QWidget* parent) : QOpenGLWidget(parent) { setMinimumSize(160, 120); }

TCloudView::~TCloudView() {
  // The program belongs to this widget's context.
  makeCurrent();
  program_.reset();
  doneCurrent();
}

void TCloudView::SetCloud(TCloud cloud, const TLens& lens) {
  cloud_ = std::move(cloud);
  lens_ = lens;
  if (!has_view_ && !cloud_.Empty()) {
    orbit_ = CameraOrbit(cloud_);
    has_view_ = true;
  }
  update();
}

void TCloudView::ResetView() {
  orbit_ = CameraOrbit(cloud_);
  has_view_ = !cloud_.Empty();
  update();
}

void TCloudView::SetOrbit(const TOrbit& orbit) {
  orbit_ = orbit;
  has_view_ = true;
  update();
}

void TCloudView::SetMarks(const std::vector<QVector3D>& marks) {
  marks_ = marks;
  update();
}

QMatrix4x4 TCloudView::ViewProjection() const {
  // Near and far follow the eye's distance, so zooming keeps the depth
  // buffer's precision where the points are.
  const float near_plane = std::max(orbit_.Distance / 100.0F, 0.01F);
  return ProjectionMatrix(lens_, size(), near_plane, orbit_.Distance * 100.0F + orbit_.Target.length()) *
         ViewMatrix(orbit_);
}

void TCloudView::initializeGL() {
  initializeOpenGLFunctions();
  program_ = std::make_unique<QOpenGLShaderProgram>();
  program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
  program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
  program_->bindAttributeLocation("position", 0);
  program_->bindAttributeLocation("colour", 1);
  if (!program_->link()) program_.reset();
}

void TCloudView::DrawArrays(GLenum mode, const std::vector<QVector3D>& positions,
                            const std::vector<QVector3D>& colours) {
  if (positions.empty()) return;
  program_->enableAttributeArray(0);
  program_->enableAttributeArray(1);
  program_->setAttributeArray(0, positions.data());
  program_->setAttributeArray(1, colours.data());
  glDrawArrays(mode, 0, static_cast<GLsizei>(positions.size()));
  program_->disableAttributeArray(0);
  program_->disableAttributeArray(1);
}

void TCloudView::DrawCamera() {
  // The left camera at the origin: its axes (x red, y green, z blue) and the
  // edges of its view, a tenth of the way to the cloud.
  const float length = std::max(cloud_.Centre.length(), 100.0F) * 0.1F;
  std::vector<QVector3D> lines = {{0, 0, 0},      {length, 0, 0}, {0, 0, 0},
                                  {0, length, 0}, {0, 0, 0},      {0, 0, length}};
  std::vector<QVector3D> colours = {{1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}, {0, 0.5F, 1}, {0, 0.5F, 1}};
  const auto corner = [&](double u, double v) {
    return QVector3D(static_cast<float>((u - lens_.Principal.x) / lens_.Focal * length),
                     static_cast<float>((v - lens_.Principal.y) / lens_.Focal * length), length);
  };
  const std::array<QVector3D, 4> corners = {corner(0, 0), corner(lens_.Image.width, 0),
                                            corner(lens_.Image.width, lens_.Image.height),
                                            corner(0, lens_.Image.height)};
  for (size_t i = 0; i < corners.size(); ++i) {
    for (const QVector3D& end : {QVector3D(0, 0, 0), corners[(i + 1) % corners.size()]}) {
      lines.push_back(corners[i]);
      lines.push_back(end);
      colours.insert(colours.end(), 2, QVector3D(1, 1, 0.6F));
    }
  }
  DrawArrays(GL_LINES, lines, colours);
}

void TCloudView::paintGL() {
  glClearColor(kBackground.x(), kBackground.y(), kBackground.z(), 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!program_) return;
  glEnable(GL_DEPTH_TEST);
  program_->bind();
  program_->setUniformValue("matrix", ViewProjection());
  // Points as large as the pixels they stand for at the camera's own view.
  const double pixel_scale = static_cast<double>(height()) / std::max(lens_.Image.height, 1);
  glPointSize(static_cast<float>(std::max(1.0, std::ceil(kCloudStep * pixel_scale))));
  DrawArrays(GL_POINTS, cloud_.Positions, cloud_.Colours);
  glLineWidth(2);
  DrawCamera();
  if (!marks_.empty()) {
    glDisable(GL_DEPTH_TEST);
    const std::vector<QVector3D> magenta(marks_.size(), QVector3D(1, 0.2F, 1));
    glPointSize(9);
    DrawArrays(GL_POINTS, marks_, magenta);
    if (marks_.size() >= 2) DrawArrays(GL_LINES, {marks_[0], marks_[1]}, {magenta[0], magenta[1]});
  }
  program_->release();
}

void TCloudView::mousePressEvent(QMouseEvent* event) {
  pressed_at_ = last_at_ = event->position();
  dragged_ = false;
  event->accept();
}

void TCloudView::Pan(QPointF by) {
  // The target moves with the pointer at the target's distance.
  const double per_pixel = orbit_.Distance / (lens_.Focal * height() / std::max(lens_.Image.height, 1));
  const QMatrix4x4 view = ViewMatrix(orbit_);
  const QVector3D right = QVector3D(view.row(0)).normalized();
  const QVector3D up = QVector3D(view.row(1)).normalized();
  orbit_.Target -=
      static_cast<float>(per_pixel) * (static_cast<float>(by.x()) * right - static_cast<float>(by.y()) * up);
}

void TCloudView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF by = event->position() - last_at_;
  last_at_ = event->position();
  if (!dragged_ && (event->position() - pressed_at_).manhattanLength() < kClickSlop_px) return;
  dragged_ = true;
  const bool pan =
      (event->buttons() & (Qt::RightButton | Qt::MiddleButton)) || (event->modifiers() & Qt::ShiftModifier);
  if (pan) {
    Pan(by);
  } else if (event->buttons() & Qt::LeftButton) {
    orbit_.Yaw_deg -= static_cast<float>(by.x()) * kOrbitDegreesPerPixel;
    orbit_.Pitch_deg =
        std::clamp(orbit_.Pitch_deg - static_cast<float>(by.y()) * kOrbitDegreesPerPixel, -89.0F, 89.0F);
  }
  has_view_ = true;
  update();
}

void TCloudView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || dragged_) return;
  const std::optional<size_t> picked =
      PickPoint(cloud_, ViewProjection(), size(), event->position(), kPickRadius_px);
  if (picked) {
    emit PointPicked(*picked);
  } else {
    emit NothingPicked();
  }
}

void TCloudView::wheelEvent(QWheelEvent* event) {
  // One notch (120) brings the eye a sixth nearer.
  orbit_.Distance *= static_cast<float>(std::pow(0.85, event->angleDelta().y() / 120.0));
  orbit_.Distance = std::max(orbit_.Distance, 1.0F);
  has_view_ = true;
  update();
  event->accept();
}

TView3D::TView3D(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("3D view"));
  setObjectName(QStringLiteral("View3D"));
  auto* layout = new QVBoxLayout(this);
  if (OpenGLAvailable()) {
    view_ = new TCloudView(this);
    view_->setMinimumSize(320, 240);
    layout->addWidget(view_, 1);
    connect(view_, &TCloudView::PointPicked, this,
            [this](size_t index) { PickPixel(view_->Cloud().Pixels[index]); });
    connect(view_, &TCloudView::NothingPicked, this,
            [this] { ShowMeasure(QStringLiteral("No point there")); });
  } else {
    layout->addWidget(new QLabel(QStringLiteral("OpenGL is not available on this display: no 3D view"), this),
                      1);
  }
  auto* row = new QHBoxLayout;
  BuReset = new QPushButton(QStringLiteral("Reset view"), this);
  BuReset->setToolTip(QStringLiteral("Back to the left camera's own view"));
  LaMeasure = new QLabel(this);
  LaMeasure->setObjectName(QStringLiteral("LaMeasure"));
  LaMeasure->setText(QStringLiteral("No disparity map is shown"));
  row->addWidget(BuReset);
  row->addWidget(LaMeasure, 1);
  layout->addLayout(row);
  connect(BuReset, &QPushButton::clicked, this, [this] {
    if (view_ != nullptr) view_->ResetView();
  });
  poll_timer_ = new QTimer(this);
  poll_timer_->setInterval(40);
  connect(poll_timer_, &QTimer::timeout, this, &TView3D::Refresh);
  poll_timer_->start();
  resize(680, 560);
}

TView3D::~TView3D() {
  if (view3d_instance == this) view3d_instance = nullptr;
}

void TView3D::Refresh() {
  if (!isVisible()) return;
  const TDisparityFilter* filter = Form1 != nullptr ? Form1->ShownDisparityFilter() : nullptr;
  std::shared_ptr<const TDisparityResult> map = filter != nullptr ? filter->ShownMap() : nullptr;
  if (map == shown_) return;
  shown_ = std::move(map);
  if (shown_ == nullptr || shown_->Snapshot.Disparity16.empty()) {
    // The filter went, or was switched off: its points go with it.
    probes_.clear();
    if (view_ != nullptr) {
      view_->SetMarks({});
      view_->SetCloud(TCloud{}, TLens{});
    }
    ShowMeasure(QStringLiteral("No disparity map is shown"));
    return;
  }
  if (shown_->Snapshot.Calibration == nullptr) {
    ShowMeasure(QStringLiteral("No calibration in force: the map has no points"));
  }
  if (view_ != nullptr) {
    const TDepthSnapshot& snapshot = shown_->Snapshot;
    view_->SetCloud(CloudOf(snapshot, kCloudStep),
                    LensOf(snapshot.Calibration.get(), snapshot.Disparity16.size()));
  }
}

void TView3D::PickPixel(cv::Point pixel) {
  if (shown_ == nullptr) return;
  const TDepthSnapshot& snapshot = shown_->Snapshot;
  const TProbe probe = ProbeAt(snapshot, pixel);
  if (probes_.size() >= 2) probes_.clear();
  probes_.push_back(probe);
  std::vector<QVector3D> marks;
  for (const TProbe& each : probes_) {
    if (each.Point)
      marks.emplace_back(static_cast<float>((*each.Point)[0]), static_cast<float>((*each.Point)[1]),
                         static_cast<float>((*each.Point)[2]));
  }
  if (view_ != nullptr) view_->SetMarks(marks);
  ShowMeasure(QString::fromStdString(probes_.size() == 1
                                         ? DescribeProbe(probe, snapshot)
                                         : DescribeDistance(probes_[0], probes_[1], snapshot)));
}

void TView3D::ClearMeasure() {
  probes_.clear();
  if (view_ != nullptr) view_->SetMarks({});
  ShowMeasure(QString());
}

void TView3D::ShowMeasure(const QString& text) { LaMeasure->setText(text); }

void TView3D::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    ClearMeasure();
    return;
  }
  QWidget::keyPressEvent(event);
}

TView3D* View3D() { return view3d_instance; }

TView3D* ShowView3D() {
  if (view3d_instance == nullptr) view3d_instance = new TView3D(Form1);
  view3d_instance->show();
  view3d_instance->raise();
  view3d_instance->activateWindow();
  view3d_instance->Refresh();
  return view3d_instance;
}

QPushButton* AddView3DButton(QWidget* dialog) {
  auto* button = new QPushButton(QStringLiteral("3D view"), dialog);
  button->setObjectName(QStringLiteral("BuView3D"));
  button->setToolTip(QStringLiteral("The newest map's points in 3D (Ctrl+3 in the main window)"));
  QObject::connect(button, &QPushButton::clicked, dialog, [] { ShowView3D(); });
  if (auto* column = qobject_cast<QBoxLayout*>(dialog->layout())) {
    column->insertWidget(std::max(column->count() - 1, 0), button);
  }
  return button;
}
