#pragma once

// The distortion filter's set-up dialog "DistortionSetup". It is created
// hidden at start; its fields and commands come with the distortion filter.

#include <QWidget>

class TFoDistortSetup : public QWidget {
  Q_OBJECT

 public:
  explicit TFoDistortSetup(QWidget* parent = nullptr);
  ~TFoDistortSetup() override;
};

// The dialog's one process-wide instance; null while none exists.
extern TFoDistortSetup* FoDistortSetup;
