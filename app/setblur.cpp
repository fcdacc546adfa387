#include "app/setblur.h"

TFoBlurSetup* FoBlurSetup = nullptr;

TFoBlurSetup::TFoBlurSetup(QWidget* parent) : QWidget(parent, Qt::Dialog) {
  setWindowTitle(QStringLiteral("BlurSetup"));
}

TFoBlurSetup::~TFoBlurSetup() {
  if (FoBlurSetup == this) FoBlurSetup = nullptr;
}
