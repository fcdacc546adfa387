#include "app/decimal_spin_edit.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QLocale>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <algorithm>

namespace {

// Far beyond any camera or matrix value: the field is unbounded in practice.
constexpr double kUnbounded = 1e12;

}  // namespace

TDecimalSpinEdit::TDecimalSpinEdit(QWidget* parent) : QDoubleSpinBox(parent) {
  setLocale(QLocale::c());
  // The shown text has three decimals; the value keeps more, so that a
  // small matrix element is not rounded away by being shown.
  setDecimals(12);
  setRange(-kUnbounded, kUnbounded);
  setSingleStep(0.005);
}

void TDecimalSpinEdit::ShowValue(double value) {
  // The typed text already says this value (as the program stores it).
  if (hasFocus() && static_cast<float>(valueFromText(cleanText())) == static_cast<float>(value)) return;
  setValue(value);
}

QString TDecimalSpinEdit::textFromValue(double value) const { return QString::number(value, 'f', 3); }

double TDecimalSpinEdit::valueFromText(const QString& text) const {
  // The text shown for the current value stands for that value, unrounded.
  if (text == textFromValue(value())) return value();
  return QLocale::c().toDouble(text.trimmed());
}

int TDecimalSpinEdit::WidthForWidestValue() const {
  ensurePolished();
  // As Qt's own spin box hint: the text, a space and the cursor, then the
  // style's frame and buttons around it.
  constexpr int kCursorWidth = 2;
  const QString text = textFromValue(kWidestValue) + u' ';
  const QSize contents(fontMetrics().horizontalAdvance(text) + kCursorWidth, lineEdit()->sizeHint().height());
  QStyleOptionSpinBox option;
  initStyleOption(&option);
  return style()->sizeFromContents(QStyle::CT_SpinBox, &option, contents, this).width();
}

QSize TDecimalSpinEdit::minimumSizeHint() const {
  QSize hint = QDoubleSpinBox::minimumSizeHint();
  hint.setWidth(std::max(hint.width(), WidthForWidestValue()));
  return hint;
}

QSize TDecimalSpinEdit::sizeHint() const {
  // Qt's hint is sized for the twelve-digit bounds, far wider than any value.
  QSize hint = QDoubleSpinBox::sizeHint();
  hint.setWidth(WidthForWidestValue());
  return hint;
}
