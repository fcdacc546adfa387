#include "app/setdisparity.h"

#include <QComboBox>
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

}  // namespace

TFoDisparitySetup::TFoDisparitySetup(QWidget* parent, TDisparityFilter* filter)
    : QWidget(parent, Qt::Window), Filter(filter), ui_(std::make_unique<Ui::TFoDisparitySetup>()) {
  ui_->setupUi(this);
  CoMatcher = ui_->CoMatcher;
  Memo1 = ui_->Memo1;
  StatusBar1 = ui_->StatusBar1;
  connect(CoMatcher, &QComboBox::currentIndexChanged, this, Guarded([this] { FieldChange(); }));
  for (const auto& [spin, value] : kSpinFields) {
    // Typed numbers are taken when editing ends, not at every digit.
    (ui_.get()->*spin)->setKeyboardTracking(false);
    connect(ui_.get()->*spin, &QSpinBox::valueChanged, this, Guarded([this] { FieldChange(); }));
  }
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
}

TDisparitySettings TFoDisparitySetup::FieldSettings() const {
  TDisparitySettings settings;
  settings.Matcher = static_cast<TMatcherKind>(CoMatcher->currentIndex());
  for (const auto& [spin, value] : kSpinFields) settings.*value = (ui_.get()->*spin)->value();
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
