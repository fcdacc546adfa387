#include "app/coverage_bars.h"

#include <QPainter>
#include <algorithm>

TCoverageBars::TCoverageBars(QWidget* parent) : QWidget(parent) { setMinimumSize(160, 80); }

void TCoverageBars::ShowCoverage(const TViewCoverage& coverage) {
  coverage_ = coverage;
  update();
}

void TCoverageBars::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int label_width = 40;
  const int row = height() / 4;
  const int bar_width = width() - label_width - 4;
  for (size_t i = 0; i < 4; ++i) {
    const int top = static_cast<int>(i) * row;
    const QRect bar(label_width, top + 3, bar_width, row - 6);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, top, label_width - 4, row), Qt::AlignVCenter | Qt::AlignRight,
                     kCoverageNames[i]);
    painter.fillRect(bar, palette().color(QPalette::Base));
    const double filled = std::clamp(coverage_.Spread[i], 0.0, 1.0);
    painter.fillRect(QRect(bar.left(), bar.top(), static_cast<int>(filled * bar.width()), bar.height()),
                     coverage_.Reached(i) ? QColor(60, 170, 60) : QColor(220, 160, 40));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    const int mark = bar.left() + static_cast<int>(kSufficientSpread[i] * bar.width());
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(mark, bar.top() - 2, mark, bar.bottom() + 2);
  }
}
