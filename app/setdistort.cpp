#include "app/setdistort.h"

TFoDistortSetup* FoDistortSetup = nullptr;

TFoDistortSetup::TFoDistortSetup(QWidget* parent) : QWidget(parent, Qt::Dialog) {
  setWindowTitle(QStringLiteral("DistortionSetup"));
}

TFoDistortSetup::~TFoDistortSetup() {
  if (FoDistortSetup == this) FoDistortSetup = nullptr;
}
