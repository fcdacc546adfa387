#include "app/Unit1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "Video/vidclass/vidclass.h"
#include "Video/vidclass/vidclass_values.h"
#include "app/Unit2.h"
#include "app/application.h"
#include "app/avifiles.h"
#include "app/every_step.h"
#include "app/inifile.h"
#include "app/live_rates.h"
#include "app/mode_settings.h"
#include "app/qtimer.h"
#include "app/ui_Unit1.h"
#include "platform/settings_folder.h"

TForm1* Form1 = nullptr;

namespace {

const char kSettingsFile[] = "Stereo.ini";

std::string SelectedText(const QListWidget* list) {
  const int row = SelectedRow(list);
  return row < 0 ? std::string() : list->item(row)->text().toStdString();
}

void SelectByText(QListWidget* list, const std::string& text) {
  const QString wanted = QString::fromStdString(text);
  for (int row = 0; row < list->count(); ++row) {
    if (list->item(row)->text().compare(wanted, Qt::CaseInsensitive) == 0) {
      list->setCurrentRow(row);
      return;
    }
  }
  list->clearSelection();
  list->setCurrentRow(-1);
}

void FillSourceList(QListWidget* list, const std::vector<DeviceEntry>& devices) {
  list->clear();
  for (const DeviceEntry& device : devices) {
    auto* item = new QListWidgetItem(QString::fromStdString(device.Text), list);
    item->setData(Qt::UserRole, device.Id);
  }
}

}  // namespace

int SelectedRow(const QListWidget* list) {
  const auto selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

int FrameRatePosition(double frames_per_second, int minimum, int maximum) {
  return std::clamp(RoundHalfEven(frames_per_second * 10.0), minimum, maximum);
}

double TimerInterval(int frame_rate_position) {
  if (frame_rate_position <= 0) return std::numeric_limits<double>::infinity();
  return 10000.0 / frame_rate_position;
}

std::string PrepareSettingsPath(const std::string& folder) {
  std::string path = folder + "/" + kSettingsFile;
  std::error_code error;
  if (std::filesystem::exists(path, error)) return path;
  const std::filesystem::path directory = std::filesystem::path(path).parent_path();
  if (!std::filesystem::is_directory(directory, error)) {
    // Only the one directory: a missing parent means the folder is wrong.
    if (!std::filesystem::create_directory(directory, error) || error) {
      throw std::runtime_error("Directory " + path + " can not be made");
    }
  }
  return path;
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TForm1>()) {
  ui_->setupUi(this);
  ListBox1 = ui_->ListBox1;
  ListBox2 = ui_->ListBox2;
  BuInit1 = ui_->BuInit1;
  BuInit2 = ui_->BuInit2;
  BuInitBoth = ui_->BuInitBoth;
  BuStart = ui_->BuStart;
  BuStop = ui_->BuStop;
  Trigger = ui_->Trigger;
  BuDisplay1 = ui_->BuDisplay1;
  BuDisplay2 = ui_->BuDisplay2;
  Button1 = ui_->Button1;
  ChTrigger = ui_->ChTrigger;
  ChDisplay = ui_->ChDisplay;
  ChDiff = ui_->ChDiff;
  ChAnal = ui_->ChAnal;
  ChWrite = ui_->ChWrite;
  MeLog = ui_->MeLog;
  StatusBar1 = ui_->StatusBar1;
  tbFrameRate = ui_->tbFrameRate;
  tbExposure = ui_->tbExposure;
  EdFourcc = ui_->EdFourcc;
  EdR1 = ui_->EdR1;
  EdR2 = ui_->EdR2;
  EdG1 = ui_->EdG1;
  EdG2 = ui_->EdG2;
  EdB1 = ui_->EdB1;
  EdB2 = ui_->EdB2;
  PaDiff = ui_->PaDiff;
  PaDistort = ui_->PaDistort;
  PaColToGray = ui_->PaColToGray;
  PaTrack = ui_->PaTrack;
  PaCalib = ui_->PaCalib;
  PaThres = ui_->PaThres;
  PaBlur = ui_->PaBlur;
  PaDepth = ui_->PaDepth;
  StereoFIlterListBox = ui_->StereoFIlterListBox;
  Button8 = ui_->Button8;

  connect(BuInit1, &QPushButton::clicked, this, Guarded([this] { BuInit1Click(); }));
  connect(BuInit2, &QPushButton::clicked, this, Guarded([this] { BuInit2Click(); }));
  connect(BuInitBoth, &QPushButton::clicked, this, Guarded([this] { BuInitBothClick(); }));
  connect(BuStart, &QPushButton::clicked, this, Guarded([this] { BuStartClick(); }));
  connect(BuStop, &QPushButton::clicked, this, Guarded([this] { BuStopClick(); }));
  connect(Trigger, &QPushButton::clicked, this, Guarded([this] { TriggerClick(); }));
  connect(BuDisplay1, &QPushButton::clicked, this, Guarded([this] { BuDisplay1Click(); }));
  connect(BuDisplay2, &QPushButton::clicked, this, Guarded([this] { BuDisplay2Click(); }));
  connect(Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
  connect(ChTrigger, &QCheckBox::toggled, this, Guarded([this] { ChTriggerClick(); }));
  connect(tbFrameRate, &QSlider::valueChanged, this, Guarded([this] { tbFrameRateChange(); }));
  connect(tbExposure, &QSlider::valueChanged, this, Guarded([this] { tbExposureChange(); }));
  ConnectFilterEditor();
  SetUpViewsFilesAndControls();
  SetUpModeLists();
  SetUpViewMenu();
  SetUpStatusPanel();
  SetUpPairRecording();
  SetUpPlayback();

  Form1 = this;
  MainWindow = this;
  // Errors of a close that no one watches still reach the log box.
  SetErrorLog([this](const QString& message) { MeLog->appendPlainText(message); });
  FormCreate();
  QCoreApplication::instance()->installEventFilter(this);
}

TForm1::~TForm1() {
  QCoreApplication::instance()->removeEventFilter(this);
  FormCloseQuery();
  FormDestroy();
  ReleaseViewBuffers();
  ReleaseImage(&own_left_);
  ReleaseImage(&own_right_);
  // The filters take their dialogs with them while the application runs.
  FilterList.clear();
  SetErrorLog({});
  if (MainWindow == this) MainWindow = nullptr;
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::FormCreate() {
  WriteInThread = false;
  DeviceEnum = std::make_unique<tVideoDevEnum>();
  StatusBar1->showMessage(QString::number(DeviceEnum->Enumerate()));
  FillSourceList(ListBox1, DeviceEnum->Devices);
  FillSourceList(ListBox2, DeviceEnum->Devices);
  FilterList.clear();
  try {
    ReadSettings();
  } catch (const std::exception& error) {
    ShowErrorMessage(QString::fromStdString(error.what()));
  }
}

void TForm1::FormCloseQuery() {
  // Closing goes on past a source that refuses to stop: the other source and
  // the timer still end, and the settings are still written afterwards.
  try {
    // The timer must not trigger a source that is being destroyed.
    RunEveryStep({[this] { BuStopClick(); }, [this] { BuCloseWriterClick(); }, [this] { EndTimer(); },
                  [this] { ReleaseSource(1); }, [this] { ReleaseSource(2); }});
  } catch (...) {
    ShowCurrentException();
  }
}

void TForm1::FormDestroy() {
  try {
    WriteSettings();
  } catch (const std::exception& error) {
    ShowErrorMessage(QString::fromStdString(error.what()));
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  event->accept();
  emit Closed();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (Form2 != nullptr) Form2->show();
}

void TForm1::ReadSettings() {
  TIniFile ini(PrepareSettingsPath(platform::UserSettingsFolder()));
  LoadSettingsFrom(ini);
}

void TForm1::WriteSettings() {
  TIniFile ini(PrepareSettingsPath(platform::UserSettingsFolder()));
  SaveSettingsTo(ini);
  ini.UpdateFile();
}

void TForm1::LoadSettingsFrom(TIniFile& ini) {
  const ModeSettings settings = ReadModeSettings(ini);
  SelectByText(ListBox1, settings.Cam1);
  SelectByText(ListBox2, settings.Cam2);
  tbFrameRate->setValue(
      FrameRatePosition(settings.Framerate, tbFrameRate->minimum(), tbFrameRate->maximum()));
  tbExposure->setValue(std::clamp(settings.Exposure, tbExposure->minimum(), tbExposure->maximum()));
  EdFourcc->setText(QString::fromStdString(settings.FourCC));
  for (size_t i = 0; i < kFactorKeys.size(); ++i)
    FactorEdits()[i]->setText(QString::fromStdString(settings.Factors[i]));
}

void TForm1::SaveSettingsTo(TIniFile& ini) const {
  ModeSettings settings;
  settings.Cam1 = SelectedText(ListBox1);
  settings.Cam2 = SelectedText(ListBox2);
  settings.Framerate = tbFrameRate->value() / 10.0;
  settings.Exposure = tbExposure->value();
  settings.FourCC = EdFourcc->text().toStdString();
  for (size_t i = 0; i < kFactorKeys.size(); ++i)
    settings.Factors[i] = FactorEdits()[i]->text().toStdString();
  WriteModeSettings(ini, settings);
  SaveFilterSettings(ini);
}

std::array<QLineEdit*, 6> TForm1::FactorEdits() const { return {EdR1, EdR2, EdG1, EdG2, EdB1, EdB2}; }

void TForm1::AppendLog(const std::string& line) { MeLog->appendPlainText(QString::fromStdString(line)); }

void TForm1::ReplaceLog(const std::vector<std::string>& lines) {
  QStringList text;
  for (const std::string& line : lines) text << QString::fromStdString(line);
  MeLog->setPlainText(text.join('\n'));
}

platform::FrameMessageGate* TForm1::GateFor(uint32_t message) {
  if (message == kFirstSourceMessage) return &message_gates_[0];
  if (message == kSecondSourceMessage) return &message_gates_[1];
  return nullptr;
}

bool TForm1::MessagePending(uint32_t message) {
  const platform::FrameMessageGate* gate = GateFor(message);
  return gate != nullptr && gate->Pending();
}

void TForm1::Post(uint32_t message) {
  platform::FrameMessageGate* gate = GateFor(message);
  if (gate != nullptr && !gate->Claim()) return;
  QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(message)));
}

void TForm1::PostLine(const std::string& line) {
  QMetaObject::invokeMethod(
      this, [this, line] { AppendLog(line); }, Qt::QueuedConnection);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (ApplicationEvents1Message(event)) return true;
  return QMainWindow::eventFilter(watched, event);
}
