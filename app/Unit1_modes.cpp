// The mode lists beside the source lists: the modes a capture device offers,
// the one in force shown, another one picked opens the side again at it.

#include <QComboBox>
#include <QGridLayout>
#include <QListWidget>
#include <algorithm>
#include <string>

#include "Video/vidclass/vidclass_dshow.h"
#include "app/Unit1.h"
#include "app/application.h"
#include "app/inifile.h"
#include "app/ui_Unit1.h"
#include "platform/settings_folder.h"

namespace {

const char kModeSection[] = "Capture modes";

tVideoDeviceDShow* AsCaptureDevice(const std::unique_ptr<tVideoDevice>& device) {
  return dynamic_cast<tVideoDeviceDShow*>(device.get());
}

// An entry's text as a key: a source description holds "=", which a key
// cannot.
std::string ModeKey(const QListWidget* list) {
  const int row = SelectedRow(list);
  const QListWidgetItem* item = row >= 0 ? list->item(row) : nullptr;
  std::string key = item != nullptr ? item->text().toStdString() : std::string();
  std::replace(key.begin(), key.end(), '=', ':');
  return key;
}

}  // namespace

void TForm1::SetUpModeLists() {
  const int row = ui_->SourceLayout->rowCount();
  for (const int side : {1, 2}) {
    auto* box = new QComboBox(this);
    box->setObjectName(side == 1 ? "CbMode1" : "CbMode2");
    box->setEnabled(false);
    ui_->SourceLayout->addWidget(box, row, side - 1);
    (side == 1 ? CbMode1 : CbMode2) = box;
    connect(box, &QComboBox::activated, this, Guarded([this, side] { ModeChosen(side); }));
  }
}

void TForm1::ShowModes(int side) {
  QComboBox* box = side == 1 ? CbMode1 : CbMode2;
  box->clear();
  tVideoDeviceDShow* device = AsCaptureDevice(Source(side));
  const std::vector<std::string>* modes = device != nullptr ? device->GetModeList() : nullptr;
  box->setEnabled(modes != nullptr);
  if (modes == nullptr) return;
  for (const std::string& mode : *modes) box->addItem(QString::fromStdString(mode));
  box->setCurrentText(QString::fromStdString(device->ModeText()));
}

void TForm1::ApplyStoredMode(int side, tVideoDevice& device) {
  auto* capture = dynamic_cast<tVideoDeviceDShow*>(&device);
  if (capture == nullptr) return;
  TIniFile ini(PrepareSettingsPath(platform::UserSettingsFolder()));
  const std::string mode = ini.ReadString(kModeSection, ModeKey(side == 1 ? ListBox1 : ListBox2), "");
  // A mode the device no longer offers leaves its preferred one.
  if (!mode.empty()) capture->SelectMode(mode);
}

void TForm1::ModeChosen(int side) {
  tVideoDeviceDShow* device = AsCaptureDevice(Source(side));
  const std::string mode = (side == 1 ? CbMode1 : CbMode2)->currentText().toStdString();
  if (device == nullptr || mode == device->ModeText()) return;
  {
    TIniFile ini(PrepareSettingsPath(platform::UserSettingsFolder()));
    ini.WriteString(kModeSection, ModeKey(side == 1 ? ListBox1 : ListBox2), mode);
    ini.UpdateFile();
  }
  // Both eyes of a stereo camera share its mode: both open again.
  const bool both = ModeKey(ListBox1) == ModeKey(ListBox2) && Device1 && Device2;
  for (const int each : {1, 2}) {
    if (each != side && !both) continue;
    ReleaseSource(each);
    if (SetUpSource(each)) Source(each)->Start();
  }
}
