#include "app/decimal_spin_edit.h"

#include <QLocale>

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
