#pragma once

// The display window: two image panes side by side, each owning a bottom-up
// device-independent bitmap that it paints scaled to its own size.

#include <opencv2/core/types_c.h>

#include <QImage>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "depth/depth_measure.h"

class QAction;
class QLabel;
class QMenu;

namespace Ui {
class TForm2;
}

// Bytes of one bitmap row: rows are padded to 32 bits.
int BitmapRowPitch(int bitCount, int width);
// The bit count a pane bitmap takes for images of that many 8-bit channels.
int BitmapBitCount(int channels);

// A device-independent bitmap as the panes keep it: 8 bits with a 256-entry
// grey table, or 24 bits in blue, green, red byte order; the first row in
// memory is the bottom row on screen.
class TPaneBitmap {
 public:
  int Width() const { return width_; }
  int Height() const { return height_; }
  // 0 while empty.
  int BitCount() const { return bit_count_; }
  int RowPitch() const { return BitmapRowPitch(bit_count_, width_); }
  std::size_t ByteSize() const { return pixels_ ? static_cast<std::size_t>(RowPitch()) * height_ : 0; }
  // Start of the pixel memory (the bottom row); null while empty.
  uint8_t* Pixels() { return pixels_.get(); }
  const uint8_t* Pixels() const { return pixels_.get(); }
  bool Matches(int width, int height, int bitCount) const {
    return width == width_ && height == height_ && bitCount == bit_count_;
  }
  // Zero-filled pixels; a size without pixels (or a bit count other than 8
  // or 24) leaves the bitmap empty.
  void Remake(int width, int height, int bitCount);
  // A view over the pixel memory in memory order (bottom row first); null
  // image while empty. Valid until the next Remake.
  const QImage& View() const { return view_; }

 private:
  int width_ = 0;
  int height_ = 0;
  int bit_count_ = 0;
  std::unique_ptr<uint8_t[]> pixels_;
  QImage view_;
};

// The size of each of two panes side by side that fill the area as far as
// the images' aspect allows (an empty image counts as 4:3).
QSize FittedPaneSize(QSize area, QSize image);

// The image pane: paints the whole bitmap upright, stretched to the pane
// without keeping the aspect ratio.
class TPane : public QWidget {
  Q_OBJECT

 public:
  explicit TPane(QWidget* parent = nullptr);

  TPaneBitmap& Bitmap() { return bitmap_; }
  const TPaneBitmap& Bitmap() const { return bitmap_; }
  // The bitmap pixel (row 0 at the top) under a position of the pane.
  QPoint PixelAt(const QPoint& position) const;
  // Marks drawn over the picture at these pixels, the first two joined by a
  // line; none clears them.
  void SetMarks(const std::vector<QPoint>& pixels);

 signals:
  // A left click, as the pixel under it.
  void PixelClicked(QPoint pixel);
  // A left-button drag of a few pixels or more, as the image pixels between
  // where it began and where it ended.
  void PixelsSelected(QRect pixels);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TPaneBitmap bitmap_;
  std::vector<QPoint> marks_;
  // Where a left-button drag began (pane position), none without one.
  std::optional<QPoint> drag_start_;
  bool dragged_ = false;
};

class TForm2 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  TPane* PbGraf1;
  TPane* PbGraf2;
  QMenu* PopupMenu1;
  QAction* FullSize1;
  QAction* HalfSize1;
  // Both panes as large as the window lets them be, the images' aspect kept;
  // they follow the window's size until "Full Size" or "Half Size".
  QAction* FitToWindow1;
  // The status line of distances measured by clicks.
  QLabel* LaMeasure;
  // The figures of the region dragged on a pane, below the measure line.
  QLabel* LaQuality;

  // A click on a pane at that pixel of the disparity view: the first gives
  // the point, the second the distance to it, a third starts again.
  void PaneClick(const QPoint& pixel);
  // Forgets the points and clears the line (Escape).
  void ClearMeasure();
  // A rectangle dragged on a pane: its depth figures below the panes.
  void PaneSelect(const QRect& pixels);

 public slots:
  void FullSize1Click();
  void HalfSize1Click();
  void FitToWindow1Click();
  bool Fitting() const { return fitting_; }
  // Lays the panes out again when fitting (after an image of another size).
  void KeepFit();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Keeps the measure line below the panes.
  void PlaceMeasureLine();
  void ShowMeasure(const QString& text);

  // The panes keep their place and size when the user resizes the window.
  void FormResize() {}
  void SetPaneSizes(int width, int height);
  void ShowPopupMenu(TPane* pane, const QPoint& position);

  std::unique_ptr<Ui::TForm2> ui_;
  std::vector<TProbe> probes_;
  bool fitting_ = false;
};

// The display window's one process-wide instance; null while none exists.
extern TForm2* Form2;

// Fits the pane to half the image size at the given left edge (its top
// stays) and re-makes its bitmap for width x height pixels of that many
// channels (1: 8-bit grey, any other: 24-bit) unless it has that format.
void SizePane(TPane* pane, int width, int channels, int left, int height);

// Copies the image into the pane's bitmap, re-making the bitmap first (as
// SizePane at the pane's current left) when its width, height or depth does
// not match; an image that is none, not 8-bit or not of 1 or 3 channels is
// not drawn.
void DrawImage(const IplImage* image, TPane* pane);

// The row copy alone, for views whose pane is sized beforehand: image row 0
// goes to the top of the pane, then the pane repaints. The bitmap is not
// re-made; an image that does not match it copies nothing. True when copied.
bool CopyImageToPane(const IplImage* image, TPane* pane);
