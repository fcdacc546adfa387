// The filter-chain editor: panels dropped on the filter list make filters,
// check marks switch them, a double click opens their set-up.

#include <QPushButton>

#include "app/Unit1.h"
#include "app/application.h"
#include "app/filter_list_box.h"
#include "app/inifile.h"
#include "app/setdisparity.h"
#include "app/setdistort.h"
#include "filters/disparity_filter.h"
#include "filters/vidfilters.h"
#include "filters/vidfilters_distort.h"
#include "platform/settings_folder.h"

namespace {

// The panels that make a filter, and the name its entry gets.
struct PanelFilter {
  const char* panel;
  const char* entry;
  std::unique_ptr<TVidFilter> (*make)();
};

const PanelFilter kPanelFilters[] = {
    {"PaDiff", "Difference", &TVidFilter::CreateAs<TDiffFilter>},
    {"PaDistort", "Distortion", &TVidFilter::CreateAs<TDistortFilter>},
    {"PaColToGray", "Calibration", &TVidFilter::CreateAs<TColToGrayFilter>},
    {"PaDepth", "Disparity", &TVidFilter::CreateAs<TDisparityFilter>},
};

// Section of the settings file that keeps the matcher's settings.
constexpr char kDisparitySection[] = "Disparity";

}  // namespace

void TForm1::ConnectFilterEditor() {
  connect(StereoFIlterListBox, &TFilterListBox::PanelDropped, this, GuardedWith([this](const QString& panel) {
            StereoFIlterListBoxDragDrop(panel.isEmpty() ? nullptr : findChild<TDragPanel*>(panel));
          }));
  connect(StereoFIlterListBox, &TFilterListBox::EntryToggled, this,
          GuardedWith([this](int row) { StereoFIlterListBoxClickCheck(row); }));
  connect(StereoFIlterListBox, &TFilterListBox::DoubleClicked, this,
          Guarded([this] { StereoFIlterListBoxDblClick(); }));
  connect(Button8, &QPushButton::clicked, this, Guarded([this] { Button8Click(); }));
  connect(StereoFIlterListBox, &TFilterListBox::RemoveRequested, this,
          GuardedWith([this](int row) { RemoveFilter(row); }));
  for (const PanelFilter& kind : kPanelFilters) {
    if (auto* panel = findChild<TDragPanel*>(kind.panel)) {
      panel->setToolTip(QStringLiteral("Drag onto the filter list to add a \"%1\" filter").arg(kind.entry));
    }
  }
}

std::unique_ptr<TDistortSetupLink> TForm1::MakeDistortSetup(TDistortFilter& filter) {
  return std::make_unique<TFoDistortSetup>(nullptr, &filter);
}

std::unique_ptr<TDisparitySetupLink> TForm1::MakeDisparitySetup(TDisparityFilter& filter) {
  return std::make_unique<TFoDisparitySetup>(nullptr, &filter);
}

const TStereoCalibration* TForm1::StereoCalibrationInForce() const {
  for (const TFilterEntry& entry : FilterList) {
    const auto* distort = dynamic_cast<const TDistortFilter*>(entry.Filter.get());
    if (distort != nullptr && distort->StereoResult) return &*distort->StereoResult;
  }
  return nullptr;
}

TDisparityFilter* TForm1::ShownDisparityFilter() const {
  TDisparityFilter* shown = nullptr;
  for (const TFilterEntry& entry : FilterList) {
    auto* disparity = dynamic_cast<TDisparityFilter*>(entry.Filter.get());
    if (disparity != nullptr && disparity->Enabled) shown = disparity;
  }
  return shown;
}

void TForm1::StereoFIlterListBoxDragDrop(const QWidget* source) {
  if (source == nullptr) return;
  for (const PanelFilter& kind : kPanelFilters) {
    if (source->objectName() != kind.panel) continue;
    std::shared_ptr<TVidFilter> filter = kind.make();
    RestoreFilterSettings(*filter);
    AddFilter(filter, kind.entry);
  }
}

void TForm1::RestoreFilterSettings(TVidFilter& filter) {
  // The matcher's settings are kept between runs; the other filters keep none.
  if (dynamic_cast<TDisparityFilter*>(&filter) == nullptr) return;
  TIniFile ini(PrepareSettingsPath(platform::UserSettingsFolder()));
  filter.LoadSettings(ini, kDisparitySection);
}

void TForm1::SaveFilterSettings(TIniFile& ini) const {
  for (const TFilterEntry& entry : FilterList) {
    if (dynamic_cast<TDisparityFilter*>(entry.Filter.get()) == nullptr) continue;
    entry.Filter->SaveSettings(ini, kDisparitySection);
    return;
  }
}

void TForm1::AddFilter(const std::shared_ptr<TVidFilter>& filter, const std::string& name) {
  try {
    FilterList.push_back({name, filter});
    const int added = static_cast<int>(FilterList.size()) - 1;
    QStringList names;
    for (const TFilterEntry& entry : FilterList) names << QString::fromStdString(entry.Name);
    StereoFIlterListBox->ReplaceEntries(names);
    for (int row = 0; row < static_cast<int>(FilterList.size()); ++row) {
      StereoFIlterListBox->SetChecked(row, FilterList[row].Filter->Enabled);
    }
    StereoFIlterListBox->setCurrentRow(added);
    filter->SetEnabled(filter->Enabled);
  } catch (...) {
    // What was done stays done; a drop reports nothing.
  }
}

void TForm1::SetFilterChecks(const TVidFilter* filter, bool checked) {
  for (int row = 0; row < static_cast<int>(FilterList.size()); ++row) {
    if (FilterList[row].Filter.get() == filter) StereoFIlterListBox->SetChecked(row, checked);
  }
}

void TForm1::StereoFIlterListBoxClickCheck(int row) {
  if (row < 0 || row >= static_cast<int>(FilterList.size())) return;
  // The entry whose box was toggled is the one acted on.
  StereoFIlterListBox->setCurrentRow(row);
  FilterList[row].Filter->SetEnabled(StereoFIlterListBox->IsChecked(row));
}

void TForm1::StereoFIlterListBoxDblClick() {
  const int row = SelectedRow(StereoFIlterListBox);
  if (row >= 0 && row < static_cast<int>(FilterList.size())) FilterList[row].Filter->ShowSetup();
}
