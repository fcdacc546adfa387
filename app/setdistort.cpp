#include "app/setdistort.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include "app/application.h"
#include "app/coverage_bars.h"
#include "app/decimal_spin_edit.h"
#include "app/dialog_place.h"
#include "app/ui_setdistort.h"
#include "filters/ucalibfilter.h"
#include "filters/vidfilters_distort.h"

TFoDistortSetup* FoDistortSetup = nullptr;

namespace {

// The file name chosen picks the format.
const QString kCalibrationFilters = QStringLiteral(
    "Calibration (*.yml *.yaml *.xml);;ROS camera_info (left.yaml right.yaml);;Kalibr (camchain.yaml);;"
    "mrcal (left.cameramodel right.cameramodel);;OpenCV stereo sample (intrinsics.yml extrinsics.yml)");

// The wait cursor while it lives, however the work ends.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

TFoDistortSetup::TFoDistortSetup(QWidget* parent, TDistortFilter* filter)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint),
      Filter(filter),
      ui_(std::make_unique<Ui::TFoDistortSetup>()),
      views_load_timer_(new QTimer(this)) {
  ui_->setupUi(this);
  // The form's own place; the form file's size is all it takes of its geometry.
  move(193, 368);
  LaViewCount = new QLabel(this);
  LaViewCount->setObjectName(QStringLiteral("LaViewCount"));
  ui_->CoverageLayout->addWidget(LaViewCount);
  LaViewCount->setText(QStringLiteral("0 of %1").arg(TCalibrationFilter::MaxViews));
  for (QSpinBox* corners : {ui_->SeBoardWidth, ui_->SeBoardHeight}) {
    corners->setRange(TCalibrationFilter::MinCorners, TCalibrationFilter::MaxCorners);
  }
  ui_->SeSquareSize->setMaximum(TCalibrationFilter::MaxSquareSize_mm);
  constexpr int kViewsLoadPoll_ms = 50;
  views_load_timer_->setInterval(kViewsLoadPoll_ms);
  connect(views_load_timer_, &QTimer::timeout, this, Guarded([this] {
            if (Filter == nullptr || !Filter->LoadViewsStep()) views_load_timer_->stop();
          }));
  CoMode = ui_->CoMode;
  Memo1 = ui_->Memo1;
  StatusBar1 = ui_->StatusBar1;
  fields_ = {ui_->SeLk1, ui_->Selk2, ui_->SeLp1, ui_->SeLp2, ui_->Selfx, ui_->SeLcx, ui_->SeLfy,
             ui_->SeLcy, ui_->SeRk1, ui_->SeRk2, ui_->SeRp1, ui_->SeRp2, ui_->SeRfx, ui_->SeRcx,
             ui_->SeRfy, ui_->SeRcy, ui_->SeF00, ui_->SeF01, ui_->SeF02, ui_->SeF10, ui_->SeF11,
             ui_->SeF12, ui_->SeF20, ui_->SeF21, ui_->SeF22};
  for (size_t index = 0; index < fields_.size(); ++index) {
    const auto field = static_cast<TDistortField>(index);
    connect(fields_[index], &QDoubleSpinBox::valueChanged, this,
            Guarded([this, field] { FieldChange(field); }));
  }
  connect(CoMode, &QComboBox::currentIndexChanged, this, Guarded([this] { CoModeChange(); }));
  connect(ui_->BuRecalc, &QPushButton::clicked, this, Guarded([this] { BuRecalcClick(); }));
  connect(ui_->BuPush, &QPushButton::clicked, this, Guarded([this] { BuPushClick(); }));
  connect(ui_->BuCalib, &QPushButton::clicked, this, Guarded([this] { BuCalibClick(); }));
  connect(ui_->Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
  connect(ui_->Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));
  for (QSpinBox* corners : {ui_->SeBoardWidth, ui_->SeBoardHeight}) {
    connect(corners, &QSpinBox::valueChanged, this, Guarded([this] { BoardSizeChange(); }));
  }
  connect(ui_->ChSubPixel, &QCheckBox::toggled, this, Guarded([this] { ChSubPixelClick(); }));
  connect(ui_->SeSquareSize, &QDoubleSpinBox::valueChanged, this, Guarded([this] { SeSquareSizeChange(); }));
  connect(ui_->BuStereoCalib, &QPushButton::clicked, this, Guarded([this] { BuStereoCalibClick(); }));
  connect(ui_->BuSave, &QPushButton::clicked, this, Guarded([this] { BuSaveClick(); }));
  connect(ui_->BuLoad, &QPushButton::clicked, this, Guarded([this] { BuLoadClick(); }));
  connect(ui_->ChAutoPush, &QCheckBox::toggled, this, Guarded([this] { ChAutoPushClick(); }));
  connect(ui_->BuDropWorst, &QPushButton::clicked, this, Guarded([this] { BuDropWorstClick(); }));
  connect(ui_->BuSaveViews, &QPushButton::clicked, this, Guarded([this] { BuSaveViewsClick(); }));
  connect(ui_->BuLoadViews, &QPushButton::clicked, this, Guarded([this] { BuLoadViewsClick(); }));
}

TFoDistortSetup::~TFoDistortSetup() {
  // Nothing reaches the filter while the dialog goes.
  Filter = nullptr;
  if (FoDistortSetup == this) FoDistortSetup = nullptr;
}

void TFoDistortSetup::WriteField(TDistortField field, double value) { Field(field)->ShowValue(value); }

void TFoDistortSetup::WriteMode(int index) { CoMode->setCurrentIndex(index); }

void TFoDistortSetup::WriteBoardSize(int width, int height) {
  // Both at once: a half-written size must not reach the filter.
  const QSignalBlocker across(ui_->SeBoardWidth), down(ui_->SeBoardHeight);
  ui_->SeBoardWidth->setValue(width);
  ui_->SeBoardHeight->setValue(height);
}

void TFoDistortSetup::WriteSubPixel(bool on) {
  const QSignalBlocker blocker(ui_->ChSubPixel);
  ui_->ChSubPixel->setChecked(on);
}

void TFoDistortSetup::WriteSquareSize(double mm) {
  const QSignalBlocker blocker(ui_->SeSquareSize);
  ui_->SeSquareSize->setValue(mm);
}

void TFoDistortSetup::ShowStatus(const std::string& text) {
  StatusBar1->showMessage(QString::fromStdString(text));
}

void TFoDistortSetup::ShowCoverage(const TViewCoverage& coverage) {
  ui_->CoverageBars->ShowCoverage(coverage);
  LaViewCount->setText(QStringLiteral("%1 of %2").arg(coverage.Views).arg(TCalibrationFilter::MaxViews));
  ui_->LaEnough->setText(coverage.Enough() ? QStringLiteral("Enough views to calibrate") : QString());
}

void TFoDistortSetup::ShowModeless() {
  PlaceDialog(this);
  show();
  raise();
  activateWindow();
}

void TFoDistortSetup::AppendLine(const std::string& line) {
  Memo1->appendPlainText(QString::fromStdString(line));
}

void TFoDistortSetup::FieldChange(TDistortField field) {
  if (Filter != nullptr) Filter->SetField(field, static_cast<float>(Field(field)->value()));
}

void TFoDistortSetup::CoModeChange() {
  if (Filter != nullptr) Filter->SetMode(CoMode->currentIndex());
}

void TFoDistortSetup::BuRecalcClick() {
  if (Filter != nullptr) Filter->InitUndistortMaps();
}

void TFoDistortSetup::BuPushClick() {
  if (Filter != nullptr) Filter->PushView();
}

void TFoDistortSetup::BuCalibClick() { RunBusy(&TDistortFilter::Calibrate); }

void TFoDistortSetup::RunBusy(void (TDistortFilter::*step)()) {
  if (Filter == nullptr) return;
  StatusBar1->showMessage(QStringLiteral("Calibrating…"));
  const BusyCursor busy;
  // The status is drawn before the work starts.
  repaint();
  (Filter->*step)();
  StatusBar1->clearMessage();
}

void TFoDistortSetup::Button1Click() {
  if (Filter != nullptr) Filter->Stereo();
}

void TFoDistortSetup::Button2Click() {
  if (Filter == nullptr) return;
  Filter->TakeCalibration();
  Filter->RefreshSetup();
}

void TFoDistortSetup::BoardSizeChange() {
  if (Filter != nullptr) Filter->SetBoardSize(ui_->SeBoardWidth->value(), ui_->SeBoardHeight->value());
}

void TFoDistortSetup::ChSubPixelClick() {
  if (Filter != nullptr) Filter->SetSubPixel(ui_->ChSubPixel->isChecked());
}

void TFoDistortSetup::SeSquareSizeChange() {
  if (Filter != nullptr) Filter->SetSquareSize(ui_->SeSquareSize->value());
}

void TFoDistortSetup::BuStereoCalibClick() { RunBusy(&TDistortFilter::StereoCalibrate); }

void TFoDistortSetup::BuSaveClick() {
  if (Filter == nullptr) return;
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Save calibration"), QString(), kCalibrationFilters);
  if (!path.isEmpty()) Filter->SaveCalibration(path.toStdString());
}

void TFoDistortSetup::BuLoadClick() {
  if (Filter == nullptr) return;
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Load calibration"), QString(), kCalibrationFilters);
  if (!path.isEmpty()) Filter->LoadCalibration(path.toStdString());
}

void TFoDistortSetup::ChAutoPushClick() {
  if (Filter != nullptr) Filter->SetAutoPush(ui_->ChAutoPush->isChecked());
}

void TFoDistortSetup::BuDropWorstClick() {
  if (Filter != nullptr) Filter->DropWorstView();
}

void TFoDistortSetup::BuSaveViewsClick() {
  if (Filter == nullptr) return;
  const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Save views"));
  if (!folder.isEmpty()) Filter->SaveViews(folder.toStdString());
}

void TFoDistortSetup::BuLoadViewsClick() {
  if (Filter == nullptr) return;
  const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Load views"));
  if (!folder.isEmpty()) LoadViewsFrom(folder);
}

void TFoDistortSetup::LoadViewsFrom(const QString& folder) {
  if (Filter != nullptr && Filter->LoadViews(folder.toStdString())) views_load_timer_->start();
}
