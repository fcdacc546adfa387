#pragma once

// A decimal field as the set-up dialogs use it: three decimals shown, steps
// of 0.005, no bounds, a point as decimal separator, and the value kept at
// full precision behind its rounded text. A value written while the field
// has the focus leaves the text being typed alone. The field is at least wide
// enough for the widest value it is meant to show, in its own font.

#include <QDoubleSpinBox>

class TDecimalSpinEdit : public QDoubleSpinBox {
  Q_OBJECT

 public:
  explicit TDecimalSpinEdit(QWidget* parent = nullptr);

  // The value the program writes into the field.
  void ShowValue(double value);

  QString textFromValue(double value) const override;
  double valueFromText(const QString& text) const override;

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

  // The widest value a field shows whole: distortion coefficients in units of
  // 1/10000 and focal lengths in pixels stay well inside it.
  static constexpr double kWidestValue = -99999.999;

 private:
  // The width that shows the widest value's text in the current font and style.
  int WidthForWidestValue() const;
};
