#pragma once

// The blur effect's set-up dialog "BlurSetup". It is created hidden at start;
// its controls come with the blur effect.

#include <QWidget>

class TFoBlurSetup : public QWidget {
  Q_OBJECT

 public:
  explicit TFoBlurSetup(QWidget* parent = nullptr);
  ~TFoBlurSetup() override;
};

// The dialog's one process-wide instance; null while none exists.
extern TFoBlurSetup* FoBlurSetup;
