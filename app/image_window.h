#pragma once

// Named image windows: one top-level window per title that shows a copy of an
// image at the image's own size, opened on first use and raised after.

#include <opencv2/core/types_c.h>

#include <QString>

class QWidget;

// Shows the image (8-bit grey or BGR) in the window of that title; another
// image, or none, leaves the window empty.
void ShowImageWindow(const QString& title, const IplImage* image);

// The open window of that title, or null.
QWidget* FindImageWindow(const QString& title);
