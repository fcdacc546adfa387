#include "app/setdisparity.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <array>
#include <utility>

#include "app/application.h"
#include "app/dialog_place.h"
#include "app/ui_setdisparity.h"
#include "app/view3d.h"

namespace {

using SpinField = std::pair<QSpinBox * Ui::TFoDisparitySetup::*, int TDisparitySettings::*>;

constexpr std::array<SpinField, 8> kSpinFields{{
    {&Ui::TFoDisparitySetup::SeNumDisparities, &TDisparitySettings::NumDisparities},
    {&Ui::TFoDisparitySetup::SeMinDisparity, &TDisparitySettings::MinDisparity},
    {&Ui::TFoDisparitySetup::SeBlockSize, &TDisparitySettings::BlockSize},
    {&Ui::TFoDisparitySetup::SeUniqueness, &TDisparitySettings::UniquenessRatio},
    {&Ui::TFoDisparitySetup::SeSpeckleWindow, &TDisparitySettings::SpeckleWindowSize},
    {&Ui::TFoDisparitySetup::SeSpeckleRange, &TDisparitySettings::SpeckleRange},
    {&Ui::TFoDisparitySetup::SeP1, &TDisparitySettings::PenaltySmall},
    {&Ui::TFoDisparitySetup::SeP2, &TDisparitySettings::PenaltyLarge},
}};

// The steps after matching: their switches and their numbers.
using CheckField = std::pair<QCheckBox * Ui::TFoDisparitySetup::*, bool TDisparityPostSettings::*>;
constexpr std::array<CheckField, 6> kCheckFields{{
    {&Ui::TFoDisparitySetup::ChLeftRight, &TDisparityPostSettings::LeftRightCheck},
    {&Ui::TFoDisparitySetup::ChTexture, &TDisparityPostSettings::TextureCheck},
    {&Ui::TFoDisparitySetup::ChFill, &TDisparityPostSettings::Fill},
    {&Ui::TFoDisparitySetup::ChHideFilled, &TDisparityPostSettings::HideFilled},
    {&Ui::TFoDisparitySetup::ChTemporal, &TDisparityPostSettings::Temporal},
    {&Ui::TFoDisparitySetup::ChRange, &TDisparityPostSettings::Range},
}};
using PostSpinField = std::pair<QSpinBox * Ui::TFoDisparitySetup::*, int TDisparityPostSettings::*>;
constexpr std::array<PostSpinField, 7> kPostSpinFields{{
    {&Ui::TFoDisparitySetup::SeLeftRightDiff, &TDisparityPostSettings::LeftRightMaxDiff_px},
    {&Ui::TFoDisparitySetup::SeTexture, &TDisparityPostSettings::TextureThreshold},
    {&Ui::TFoDisparitySetup::SeFillLambda, &TDisparityPostSettings::FillLambda},
    {&Ui::TFoDisparitySetup::SeTemporalMaps, &TDisparityPostSettings::TemporalMaps},
    {&Ui::TFoDisparitySetup::SeSceneChange, &TDisparityPostSettings::SceneChange},
    {&Ui::TFoDisparitySetup::SeNear, &TDisparityPostSettings::Near_mm},
    {&Ui::TFoDisparitySetup::SeFar, &TDisparityPostSettings::Far_mm},
}};

}  // namespace

TFoDisparitySetup::TFoDisparitySetup(QWidget* parent, TDisparityFilter* filter)
    : QWidget(parent, Qt::Window), Filter(filter), ui_(std::make_unique<Ui::TFoDisparitySetup>()) {
  ui_->setupUi(this);
  CoMatcher = ui_->CoMatcher;
  Memo1 = ui_->Memo1;
  StatusBar1 = ui_->StatusBar1;
  connect(CoMatcher, &QComboBox::currentIndexChanged, this, Guarded([this] { FieldChange(); }));
  const auto take_typed = [](QAbstractSpinBox* spin) {
    // Typed numbers are taken when editing ends, not at every digit.
    spin->setKeyboardTracking(false);
  };
  for (const auto& [spin, value] : kSpinFields) {
    take_typed(ui_.get()->*spin);
    connect(ui_.get()->*spin, &QSpinBox::valueChanged, this, Guarded([this] { FieldChange(); }));
  }
  for (const auto& [spin, value] : kPostSpinFields) {
    take_typed(ui_.get()->*spin);
    connect(ui_.get()->*spin, &QSpinBox::valueChanged, this, Guarded([this] { FieldChange(); }));
  }
  for (const auto& [check, value] : kCheckFields) {
    connect(ui_.get()->*check, &QCheckBox::toggled, this, Guarded([this] { FieldChange(); }));
  }
  take_typed(ui_->SeFillSigma);
  connect(ui_->SeFillSigma, &QDoubleSpinBox::valueChanged, this, Guarded([this] { FieldChange(); }));
  take_typed(ui_->SeTrueDistance);
  connect(ui_->SeTrueDistance, &QDoubleSpinBox::valueChanged, this, Guarded([this] {
            if (Filter != nullptr) Filter->SetTrueDistance(ui_->SeTrueDistance->value());
          }));
  connect(ui_->BuSaveDepth, &QPushButton::clicked, this, Guarded([this] { BuSaveDepthClick(); }));
  AddView3DButton(this);
  // Right of the display window at its first size, clear of the panes.
  move(700, 234);
}

TFoDisparitySetup::~TFoDisparitySetup() { Filter = nullptr; }

void TFoDisparitySetup::WriteSettings(const TDisparitySettings& settings) {
  const QSignalBlocker matcher(CoMatcher);
  CoMatcher->setCurrentIndex(static_cast<int>(settings.Matcher));
  for (const auto& [spin, value] : kSpinFields) {
    const QSignalBlocker blocker(ui_.get()->*spin);
    (ui_.get()->*spin)->setValue(settings.*value);
  }
  for (const auto& [spin, value] : kPostSpinFields) {
    const QSignalBlocker blocker(ui_.get()->*spin);
    (ui_.get()->*spin)->setValue(settings.Post.*value);
  }
  for (const auto& [check, value] : kCheckFields) {
    const QSignalBlocker blocker(ui_.get()->*check);
    (ui_.get()->*check)->setChecked(settings.Post.*value);
  }
  const QSignalBlocker sigma(ui_->SeFillSigma);
  ui_->SeFillSigma->setValue(settings.Post.FillSigmaColor);
}

TDisparitySettings TFoDisparitySetup::FieldSettings() const {
  TDisparitySettings settings;
  settings.Matcher = static_cast<TMatcherKind>(CoMatcher->currentIndex());
  for (const auto& [spin, value] : kSpinFields) settings.*value = (ui_.get()->*spin)->value();
  for (const auto& [spin, value] : kPostSpinFields) settings.Post.*value = (ui_.get()->*spin)->value();
  for (const auto& [check, value] : kCheckFields) settings.Post.*value = (ui_.get()->*check)->isChecked();
  settings.Post.FillSigmaColor = ui_->SeFillSigma->value();
  return settings;
}

void TFoDisparitySetup::ShowStatus(const std::string& text) {
  StatusBar1->showMessage(QString::fromStdString(text));
}

void TFoDisparitySetup::ShowModeless() {
  PlaceDialog(this);
  show();
  raise();
  activateWindow();
}

void TFoDisparitySetup::AppendLine(const std::string& line) {
  Memo1->appendPlainText(QString::fromStdString(line));
}

void TFoDisparitySetup::FieldChange() {
  if (Filter != nullptr) Filter->SetSettings(FieldSettings());
}

void TFoDisparitySetup::SaveDepthTo(const std::string& stem) {
  if (Filter != nullptr) Filter->SaveDepth(stem);
}

void TFoDisparitySetup::BuSaveDepthClick() {
  if (Filter == nullptr) return;
  QString stem = QFileDialog::getSaveFileName(this, QStringLiteral("Save depth"), QStringLiteral("depth"),
                                              QStringLiteral("Depth files (*)"));
  if (stem.isEmpty()) return;
  // The name chosen is the stem; an extension typed with it is dropped.
  for (const char* extension : {".png", ".ply"}) {
    if (stem.endsWith(QLatin1String(extension))) stem.chop(4);
  }
  SaveDepthTo(stem.toStdString());
}
