// Camera set-up of the main window: one side at a time, or both and start.

#include <QListWidget>
#include <QSlider>
#include <exception>
#include <mutex>

#include "Video/vidclass/vidclass.h"
#include "Video/vidclass/vidclass_dshow.h"
#include "Video/vidclass/vidclass_falcon.h"
#include "Video/vidclass/vidclass_genicam.h"
#include "Video/vidclass/vidclass_sidebyside.h"
#include "Video/vidclass/vidclass_ueye.h"
#include "Video/vidclass/vidclass_values.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/inifile.h"
#include "platform/settings_folder.h"

namespace {

// A GenICam camera opens at its own size and format; in trigger mode it is
// triggered by the line Stereo.ini names ([GenICam] TriggerSource=Line0),
// else by software.
std::unique_ptr<tVideoDevice> MakeGenICamDevice(int32_t index, platform::WindowHandle window) {
  auto camera = std::make_unique<tVideoDeviceGenICam>(index, window);
  TIniFile ini(PrepareSettingsPath(platform::UserSettingsFolder()));
  camera->TriggerSource = ini.ReadString("GenICam", "TriggerSource", camera->TriggerSource);
  return camera;
}

// Its own frame-rate bounds open the rate slider, as the pixel clock does
// for a uEye camera.
void FitRateSlider(QSlider* slider, tVideoDevice& camera) {
  ValueRange range;
  camera.GetFrameRateRange(range);
  if (SliderCanTake(range, 10.0))
    SetSliderRange(slider, static_cast<int>(range.Minimum * 10.0), RoundHalfEven(range.Maximum * 10.0));
}

bool IsStereoCameraId(int32_t id) {
  return id >= kSideBySideDeviceIdBase && id < kSideBySideDeviceIdBase + 1000;
}

}  // namespace

std::unique_ptr<tVideoDevice> MakeSourceDevice(int32_t id, platform::WindowHandle window, int side) {
  if (IsStereoCameraId(id)) {
    const bool top_bottom = id >= kTopBottomDeviceIdBase;
    return std::make_unique<tVideoDeviceSideBySide>(
        id - (top_bottom ? kTopBottomDeviceIdBase : kSideBySideDeviceIdBase),
        top_bottom ? platform::StereoLayout::kTopBottom : platform::StereoLayout::kSideBySide,
        side == 1 ? 0 : 1, window);
  }
  if (id >= kGenICamDeviceIdBase && id < kGenICamDeviceIdBase + 1000)
    return MakeGenICamDevice(id - kGenICamDeviceIdBase, window);
  if (id >= kUEyeDeviceIdBase) return std::make_unique<tVideoDeviceuEye>(id - kUEyeDeviceIdBase, window);
  if (id >= kFalconDeviceId) return std::make_unique<tVideoDeviceFalcon>(id - kFalconDeviceId, window);
  if (id >= kCaptureDeviceIdBase)
    return std::make_unique<tVideoDeviceDShow>(id - kCaptureDeviceIdBase, window);
  return nullptr;
}

bool TForm1::SetUpSource(int side) {
  QListWidget* list = side == 1 ? ListBox1 : ListBox2;
  const int row = SelectedRow(list);
  if (row < 0) return false;
  const int32_t id = list->item(row)->data(Qt::UserRole).toInt();
  // One device cannot feed both sides, except a stereo camera's, which
  // gives each side its own eye.
  if (side == 2 && row == SelectedRow(ListBox1) && !IsStereoCameraId(id)) return false;
  if (id < kCaptureDeviceIdBase) return false;

  ReleaseSource(side);
  {
    std::unique_ptr<tVideoDevice> device = MakeSourceDevice(id, this, side);
    const std::lock_guard lock(source_mutex_);
    Source(side) = std::move(device);
  }
  tVideoDevice& device = *Source(side);
  if (dynamic_cast<tVideoDeviceuEye*>(&device) != nullptr) {
    device.Width = 640;
    device.Height = 480;
    device.Channels = 3;
  }
  ApplyStoredMode(side, device);
  device.FrameCallback = side == 1 ? &TForm1::WriteFrameLeft : &TForm1::WriteFrameRight;
  device.Init(side == 1 ? kFirstSourceMessage : kSecondSourceMessage);
  ReplaceLog(device.Log);
  if (side == 1 && dynamic_cast<tVideoDeviceGenICam*>(&device) != nullptr) FitRateSlider(tbFrameRate, device);
  if (Form2 != nullptr) {
    TPane* pane = side == 1 ? Form2->PbGraf1 : Form2->PbGraf2;
    const int left = side == 1 ? 0 : Form2->PbGraf1->x() + Form2->PbGraf1->width() + 1;
    SizePane(pane, device.Width, device.Channels, left, device.Height);
  }
  ShowModes(side);
  return true;
}

void TForm1::ReleaseSource(int side) {
  std::unique_ptr<tVideoDevice>& source = Source(side);
  if (!source) return;
  std::exception_ptr refused;
  try {
    source->Stop();
  } catch (...) {
    refused = std::current_exception();
  }
  std::unique_ptr<tVideoDevice> released;
  {
    const std::lock_guard lock(source_mutex_);
    released = std::move(source);
  }
  // Nothing may keep pointing into the image memory that goes with it.
  IplImage*& current = side == 1 ? CurrentLeft : CurrentRight;
  IplImage*& processed = side == 1 ? ProcessedLeft : ProcessedRight;
  if (processed == released->Image || processed == current) processed = nullptr;
  current = nullptr;
  (side == 1 ? Arrived1 : Arrived2) = false;
  released.reset();
  // A source that refused to stop is gone all the same; the refusal is
  // reported once it is.
  if (refused) std::rethrow_exception(refused);
}

void TForm1::BuInit1Click() { SetUpSource(1); }

void TForm1::BuInit2Click() { SetUpSource(2); }

void TForm1::BuInitBothClick() {
  BuInit1Click();
  BuInit2Click();
  tbFrameRateChange();
  BuStartClick();
  PrepareViewBuffers(Device1 ? Device1->Image : Device2 ? Device2->Image : nullptr);
}
