#pragma once

// Four bars of how well the collected calibration views cover the image
// (X, Y), the distances (size) and the tilts (skew), each with a mark at
// the spread that suffices.

#include <QWidget>

#include "filters/view_coverage.h"

class TCoverageBars : public QWidget {
  Q_OBJECT

 public:
  explicit TCoverageBars(QWidget* parent = nullptr);

  void ShowCoverage(const TViewCoverage& coverage);
  const TViewCoverage& Coverage() const { return coverage_; }
  QSize sizeHint() const override { return {220, 96}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TViewCoverage coverage_;
};
