#pragma once

// A decimal field as the set-up dialogs use it: three decimals shown, steps
// of 0.005, no bounds, a point as decimal separator, and the value kept at
// full precision behind its rounded text. A value written while the field
// has the focus leaves the text being typed alone.

#include <QDoubleSpinBox>

class TDecimalSpinEdit : public QDoubleSpinBox {
  Q_OBJECT

 public:
  explicit TDecimalSpinEdit(QWidget* parent = nullptr);

  // The value the program writes into the field.
  void ShowValue(double value);

  QString textFromValue(double value) const override;
  double valueFromText(const QString& text) const override;
};
