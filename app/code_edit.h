#pragma once

// A short code field with an input mask (a four-letter codec code): at least
// wide enough for every place of its mask filled with the widest letter, in
// its own font, however much its layout squeezes it.

#include <QLineEdit>

class TCodeEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TCodeEdit(QWidget* parent = nullptr);

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 private:
  int WidthForWidestCode() const;
};
