#include "app/Unit2.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QList>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cstring>
#include <limits>

#include "app/Unit1.h"
#include "filters/disparity_filter.h"
#include "filters/parallel_loop.h"
#include "ui_Unit2.h"

TForm2* Form2 = nullptr;

namespace {

const QList<QRgb>& GreyRamp() {
  static const QList<QRgb> ramp = [] {
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) table[i] = qRgb(i, i, i);
    return table;
  }();
  return ramp;
}

// What a pane can show: 8-bit pixels, grey or blue-green-red, with rows that
// hold at least one line of pixels.
bool IsDrawableImage(const IplImage& image) {
  return image.depth == IPL_DEPTH_8U && (image.nChannels == 1 || image.nChannels == 3) &&
         image.imageData != nullptr && image.width > 0 && image.height > 0 &&
         image.widthStep >= image.width * image.nChannels;
}

bool FitsBitmap(const IplImage& image, const TPaneBitmap& bitmap) {
  return IsDrawableImage(image) && bitmap.Pixels() != nullptr &&
         bitmap.Matches(image.width, image.height, BitmapBitCount(image.nChannels));
}

// Images are top-down, the bitmap bottom-up: image row r goes to the last
// but r bitmap row, so row 0 shows at the top.
void CopyRowsBottomUp(const IplImage& image, TPaneBitmap& bitmap, cv::Range rows) {
  const std::size_t row_bytes = static_cast<std::size_t>(image.width) * image.nChannels;
  const std::ptrdiff_t pitch = bitmap.RowPitch();
  // The frame is read front to back, the order its memory is streamed in
  // fastest; the bitmap is filled from its last row up.
  uint8_t* target = bitmap.Pixels() + static_cast<std::ptrdiff_t>(image.height - 1 - rows.start) * pitch;
  for (int r = rows.start; r < rows.end; ++r, target -= pitch) {
    std::memcpy(target, image.imageData + static_cast<std::ptrdiff_t>(r) * image.widthStep, row_bytes);
  }
}

// Frames of a megapixel camera are copied in two bands at once, one a core:
// one core alone does not move the bytes as fast as memory takes them.
constexpr std::size_t kBandedCopyBytes = std::size_t{1} << 20;

void CopyRowsBottomUp(const IplImage& image, TPaneBitmap& bitmap) {
  const cv::Range all(0, image.height);
  if (static_cast<std::size_t>(image.width) * image.nChannels * image.height < kBandedCopyBytes) {
    CopyRowsBottomUp(image, bitmap, all);
    return;
  }
  parallel::ForEachPart(
      all, [&](const cv::Range& rows) { CopyRowsBottomUp(image, bitmap, rows); }, 2);
}

}  // namespace

int BitmapRowPitch(int bitCount, int width) {
  if (bitCount <= 0 || width <= 0) return 0;
  const long long pitch = (static_cast<long long>(bitCount) * width + 31) / 32 * 4;
  return pitch > std::numeric_limits<int>::max() ? 0 : static_cast<int>(pitch);
}

int BitmapBitCount(int channels) { return channels == 1 ? 8 : 24; }

void TPaneBitmap::Remake(int width, int height, int bitCount) {
  view_ = QImage();
  pixels_.reset();
  width_ = height_ = bit_count_ = 0;
  if (width <= 0 || height <= 0 || (bitCount != 8 && bitCount != 24)) return;
  const long long pitch = BitmapRowPitch(bitCount, width);
  // QImage addresses at most 2 GiB; a larger bitmap stays empty.
  if (pitch == 0 || pitch * height > std::numeric_limits<int>::max()) return;
  pixels_ = std::make_unique<uint8_t[]>(static_cast<std::size_t>(pitch * height));
  width_ = width;
  height_ = height;
  bit_count_ = bitCount;
  // Writable buffer: the view shares it and never detaches.
  if (bitCount == 8) {
    view_ = QImage(pixels_.get(), width, height, static_cast<qsizetype>(pitch), QImage::Format_Indexed8);
    view_.setColorTable(GreyRamp());
  } else {
    view_ = QImage(pixels_.get(), width, height, static_cast<qsizetype>(pitch), QImage::Format_BGR888);
  }
}

TPane::TPane(QWidget* parent) : QWidget(parent) {}

void TPane::paintEvent(QPaintEvent*) {
  const QImage& view = bitmap_.View();
  if (view.isNull()) return;
  QPainter painter(this);
  // The first row in memory is the bottom one: flip while stretching the
  // whole bitmap over the pane.
  const double scale_x = static_cast<double>(width()) / view.width();
  const double scale_y = static_cast<double>(height()) / view.height();
  painter.setTransform(QTransform(scale_x, 0, 0, -scale_y, 0, height()));
  painter.drawImage(0, 0, view);
  if (marks_.empty()) return;
  painter.resetTransform();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::white, 2));
  std::vector<QPointF> centres;
  for (const QPoint& pixel : marks_)
    centres.emplace_back((pixel.x() + 0.5) * scale_x, (pixel.y() + 0.5) * scale_y);
  if (centres.size() >= 2) painter.drawLine(centres[0], centres[1]);
  for (const QPointF& centre : centres) {
    painter.drawLine(centre - QPointF(5, 0), centre + QPointF(5, 0));
    painter.drawLine(centre - QPointF(0, 5), centre + QPointF(0, 5));
  }
}

QPoint TPane::PixelAt(const QPoint& position) const {
  if (width() <= 0 || height() <= 0) return {-1, -1};
  return {static_cast<int>(static_cast<long long>(position.x()) * bitmap_.Width() / width()),
          static_cast<int>(static_cast<long long>(position.y()) * bitmap_.Height() / height())};
}

void TPane::SetMarks(const std::vector<QPoint>& pixels) {
  marks_ = pixels;
  update();
}

void TPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    drag_start_ = event->position().toPoint();
    dragged_ = false;
    emit PixelClicked(PixelAt(event->position().toPoint()));
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

// Shorter moves of the pointer are a click that shook.
constexpr int kLeastDrag = 4;

void TPane::mouseMoveEvent(QMouseEvent* event) {
  if (drag_start_ && (event->position().toPoint() - *drag_start_).manhattanLength() >= kLeastDrag) {
    dragged_ = true;
  }
  QWidget::mouseMoveEvent(event);
}

void TPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !drag_start_) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  const QPoint end = event->position().toPoint();
  const QPoint start = *drag_start_;
  drag_start_.reset();
  if (dragged_ || (end - start).manhattanLength() >= kLeastDrag) {
    emit PixelsSelected(QRect(PixelAt(start), PixelAt(end)).normalized());
  }
  event->accept();
}

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TForm2>()) {
  ui_->setupUi(this);
  PbGraf1 = ui_->PbGraf1;
  PbGraf2 = ui_->PbGraf2;
  FullSize1 = ui_->FullSize1;
  HalfSize1 = ui_->HalfSize1;
  move(21, 234);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->addAction(FullSize1);
  PopupMenu1->addAction(HalfSize1);
  FitToWindow1 = new QAction(QStringLiteral("Fit to window"), this);
  FitToWindow1->setObjectName(QStringLiteral("FitToWindow1"));
  PopupMenu1->addAction(FitToWindow1);
  connect(FullSize1, &QAction::triggered, this, &TForm2::FullSize1Click);
  connect(HalfSize1, &QAction::triggered, this, &TForm2::HalfSize1Click);
  connect(FitToWindow1, &QAction::triggered, this, &TForm2::FitToWindow1Click);
  LaMeasure = new QLabel(this);
  LaMeasure->setObjectName(QStringLiteral("LaMeasure"));
  LaQuality = new QLabel(this);
  LaQuality->setObjectName(QStringLiteral("LaQuality"));
  PlaceMeasureLine();
  for (TPane* pane : {PbGraf1, PbGraf2}) {
    connect(pane, &TPane::PixelClicked, this, [this](QPoint pixel) { PaneClick(pixel); });
    connect(pane, &TPane::PixelsSelected, this, [this](QRect pixels) { PaneSelect(pixels); });
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane, &QWidget::customContextMenuRequested, this,
            [this, pane](const QPoint& position) { ShowPopupMenu(pane, position); });
  }
}

TForm2::~TForm2() {
  if (Form2 == this) Form2 = nullptr;
}

void TForm2::ShowPopupMenu(TPane* pane, const QPoint& position) {
  PopupMenu1->popup(pane->mapToGlobal(position));
}

void TForm2::SetPaneSizes(int width, int height) {
  PbGraf1->resize(width, height);
  PbGraf2->setGeometry(PbGraf1->width(), PbGraf2->y(), PbGraf1->width(), PbGraf1->height());
  resize(2 * width, height);
}

void TForm2::FullSize1Click() {
  fitting_ = false;
  SetPaneSizes(640, 480);
  move(0, 0);
}

void TForm2::HalfSize1Click() {
  fitting_ = false;
  SetPaneSizes(320, 240);
}

void TForm2::FitToWindow1Click() {
  fitting_ = true;
  KeepFit();
}

void TForm2::KeepFit() {
  if (!fitting_) return;
  const QSize image(PbGraf1->Bitmap().Width(), PbGraf1->Bitmap().Height());
  const QSize area(width(), height() - LaMeasure->sizeHint().height());
  const QSize pane = FittedPaneSize(area, image);
  // The pair stands centred across the window, at its top.
  const int left = (width() - 2 * pane.width()) / 2;
  PbGraf1->setGeometry(left, 0, pane.width(), pane.height());
  PbGraf2->setGeometry(left + pane.width(), 0, pane.width(), pane.height());
  PlaceMeasureLine();
}

void TForm2::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
  KeepFit();
  PlaceMeasureLine();
}

void TForm2::PlaceMeasureLine() {
  const int top = std::max(PbGraf1->geometry().bottom(), PbGraf2->geometry().bottom()) + 1;
  const int line = LaMeasure->sizeHint().height();
  LaMeasure->setGeometry(0, top, width(), line);
  LaQuality->setGeometry(0, top + line, width(), LaQuality->sizeHint().height());
}

void TForm2::PaneSelect(const QRect& pixels) {
  TDisparityFilter* filter = Form1 != nullptr ? Form1->ShownDisparityFilter() : nullptr;
  const std::string text =
      filter != nullptr
          ? filter->MeasureRegion(cv::Rect(pixels.x(), pixels.y(), pixels.width(), pixels.height()))
          : std::string("No disparity map is shown");
  LaQuality->setText(QString::fromStdString(text));
  PlaceMeasureLine();
  if (LaQuality->geometry().bottom() >= height()) resize(width(), LaQuality->geometry().bottom() + 1);
}

void TForm2::ShowMeasure(const QString& text) {
  PlaceMeasureLine();
  LaMeasure->setText(text);
  // The line must be seen: the window grows below the panes when it is cut off.
  if (LaMeasure->geometry().bottom() >= height()) resize(width(), LaMeasure->geometry().bottom() + 1);
  std::vector<QPoint> marks;
  for (const TProbe& probe : probes_) marks.emplace_back(probe.Pixel.x, probe.Pixel.y);
  PbGraf1->SetMarks(marks);
  PbGraf2->SetMarks(marks);
}

void TForm2::PaneClick(const QPoint& pixel) {
  const TDisparityFilter* filter = Form1 != nullptr ? Form1->ShownDisparityFilter() : nullptr;
  const std::shared_ptr<const TDisparityResult> map = filter != nullptr ? filter->ShownMap() : nullptr;
  if (map == nullptr || map->Snapshot.Disparity16.empty()) {
    probes_.clear();
    ShowMeasure(QStringLiteral("No disparity map is shown"));
    return;
  }
  const TDepthSnapshot& snapshot = map->Snapshot;
  const TProbe probe = ProbeAt(snapshot, cv::Point(pixel.x(), pixel.y()));
  if (!cv::Rect(0, 0, snapshot.Disparity16.cols, snapshot.Disparity16.rows).contains(probe.Pixel)) {
    ShowMeasure(QString::fromStdString(DescribeProbe(probe, snapshot)));
    return;
  }
  if (probes_.size() >= 2) probes_.clear();
  probes_.push_back(probe);
  const std::string text = probes_.size() == 1 ? DescribeProbe(probe, snapshot)
                                               : DescribeDistance(probes_[0], probes_[1], snapshot);
  ShowMeasure(QString::fromStdString(text));
}

void TForm2::ClearMeasure() {
  probes_.clear();
  ShowMeasure(QString());
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    ClearMeasure();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TForm2::mousePressEvent(QMouseEvent* event) {
  // The panes take their own clicks; the rest of the window is no image.
  if (event->button() == Qt::LeftButton) {
    ShowMeasure(QStringLiteral("Outside the image"));
    return;
  }
  QWidget::mousePressEvent(event);
}

QSize FittedPaneSize(QSize area, QSize image) {
  if (image.width() <= 0 || image.height() <= 0) image = QSize(4, 3);
  if (area.width() < 2 || area.height() < 1) return {0, 0};
  // Each pane has half the width; the height that fits decides otherwise.
  const long long across = area.width() / 2;
  const long long down = area.height();
  if (across * image.height() <= down * image.width()) {
    return {static_cast<int>(across), static_cast<int>(across * image.height() / image.width())};
  }
  return {static_cast<int>(down * image.width() / image.height()), static_cast<int>(down)};
}

void SizePane(TPane* pane, int width, int channels, int left, int height) {
  if (pane == nullptr) return;
  pane->setGeometry(left, pane->y(), std::max(width / 2, 0), std::max(height / 2, 0));
  const int bit_count = BitmapBitCount(channels);
  if (!pane->Bitmap().Matches(width, height, bit_count)) pane->Bitmap().Remake(width, height, bit_count);
  // A window that fits its panes keeps doing so for images of a new size.
  if (auto* form = qobject_cast<TForm2*>(pane->parentWidget())) form->KeepFit();
  pane->update();
}

bool CopyImageToPane(const IplImage* image, TPane* pane) {
  if (pane == nullptr) return false;
  const bool fits = image != nullptr && FitsBitmap(*image, pane->Bitmap());
  if (fits) CopyRowsBottomUp(*image, pane->Bitmap());
  pane->update();
  return fits;
}

void DrawImage(const IplImage* image, TPane* pane) {
  if (image == nullptr || pane == nullptr || !IsDrawableImage(*image)) return;
  if (!pane->Bitmap().Matches(image->width, image->height, BitmapBitCount(image->nChannels)))
    SizePane(pane, image->width, image->nChannels, pane->x(), image->height);
  CopyImageToPane(image, pane);
}
