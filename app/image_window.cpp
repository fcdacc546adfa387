#include "app/image_window.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <map>

namespace {

std::map<QString, QPointer<QLabel>>& Windows() {
  static std::map<QString, QPointer<QLabel>> windows;
  return windows;
}

QImage CopyOf(const IplImage* image) {
  if (image == nullptr || image->imageData == nullptr || image->depth != IPL_DEPTH_8U) return {};
  QImage::Format format;
  if (image->nChannels == 1) {
    format = QImage::Format_Grayscale8;
  } else if (image->nChannels == 3) {
    format = QImage::Format_BGR888;
  } else {
    return {};
  }
  // Copied: the image's pixels change with every frame.
  return QImage(reinterpret_cast<const uchar*>(image->imageData), image->width, image->height,
                image->widthStep, format)
      .copy();
}

}  // namespace

void ShowImageWindow(const QString& title, const IplImage* image) {
  QPointer<QLabel>& window = Windows()[title];
  if (window.isNull()) {
    window = new QLabel;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title);
  }
  window->setPixmap(QPixmap::fromImage(CopyOf(image)));
  window->adjustSize();
  window->show();
  window->raise();
}

QWidget* FindImageWindow(const QString& title) {
  const auto found = Windows().find(title);
  return found == Windows().end() ? nullptr : found->second.data();
}
