// The camera sliders of "uEye Settings ": every change goes to both sources,
// the read-back comes from the first, and the first camera's ranges bound the
// frame-rate and exposure sliders.

#include <QCheckBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "Video/vidclass/vidclass.h"
#include "Video/vidclass/vidclass_ueye.h"
#include "Video/vidclass/vidclass_values.h"
#include "app/Unit1.h"
#include "app/application.h"
#include "app/qtimer.h"
#include "app/ui_Unit1.h"

namespace {

// "%1.1f" and the like, with the locale's decimal separator.
QString Fixed(double value, int decimals) { return QLocale().toString(value, 'f', decimals); }

void ShowValue(QLineEdit* field, double value) { field->setText(Fixed(value, 1)); }

QString RangeText(const ValueRange& range) {
  return Fixed(range.Minimum, 3) + ", " + Fixed(range.Maximum, 3) + ", " + Fixed(range.Increment, 3);
}

tVideoDeviceuEye* AsCamera(const std::unique_ptr<tVideoDevice>& device) {
  return dynamic_cast<tVideoDeviceuEye*>(device.get());
}

}  // namespace

bool SliderCanTake(const ValueRange& range, double scale) {
  const double limit = std::numeric_limits<int>::max();
  for (const double end : {range.Minimum * scale, range.Maximum * scale}) {
    if (!std::isfinite(end) || std::abs(end) > limit) return false;
  }
  return true;
}

bool TForm1::TakeRange(const ValueRange& range, double scale, const char* what) {
  if (SliderCanTake(range, scale)) return true;
  AppendLog(std::string(what) + " range refused: " + RangeText(range).toStdString());
  return false;
}

void SetSliderRange(QSlider* slider, int minimum, int maximum) {
  // Qt would drag the other end along instead of refusing.
  if (minimum <= slider->maximum()) slider->setMinimum(minimum);
  if (maximum >= slider->minimum()) slider->setMaximum(maximum);
}

void TForm1::tbPixelClockChange() {
  // Sources without a pixel clock take the slider's span as their gain's.
  const double share = static_cast<double>(tbPixelClock->value() - tbPixelClock->minimum()) /
                       std::max(1, tbPixelClock->maximum() - tbPixelClock->minimum());
  for (tVideoDevice* device : {Device1.get(), Device2.get()})
    if (device != nullptr && dynamic_cast<tVideoDeviceuEye*>(device) == nullptr) device->SetGain(share);
  tVideoDeviceuEye* first = AsCamera(Device1);
  if (first == nullptr) return;
  const int position = tbPixelClock->value();
  first->SetPixelClock(position);
  if (tVideoDeviceuEye* second = AsCamera(Device2)) second->SetPixelClock(position);
  Edit3->setText(QString::number(position));
  ValueRange range;
  first->GetFrameRateRange(range);
  if (TakeRange(range, 10.0, "Frame rate")) {
    SetSliderRange(tbFrameRate, static_cast<int>(range.Minimum * 10.0), RoundHalfEven(range.Maximum * 10.0));
  }
  ShowValue(Edit1, first->FrameRate);
  ShowValue(Edit2, first->Exposure);
}

void TForm1::tbFrameRateChange() {
  const int position = tbFrameRate->value();
  // Position 0 is no rate at all: a camera would take it as its slowest. The
  // timer gets no period from it, so it stops triggering.
  if (position > 0) {
    if (Device1) Device1->SetFrameRate(position / 10.0);
    if (Device2) Device2->SetFrameRate(position / 10.0);
  }
  if (Device1) ShowValue(Edit1, Device1->FrameRate);
  if (QueryTimer) QueryTimer->Interval = TimerInterval(position);
  trigger_period_ms_ = TimerInterval(position);
  if (!Device1) return;
  ValueRange range;
  Device1->GetExposureRange(range);
  if (TakeRange(range, 1.0, "Exposure")) {
    SetSliderRange(tbExposure, RoundHalfEven(range.Minimum), RoundHalfEven(range.Maximum));
  }
}

void TForm1::tbExposureChange() {
  const int position = tbExposure->value();
  if (Device1) Device1->SetExposure(position);
  if (Device2) Device2->SetExposure(position);
  if (Device1) ShowValue(Edit2, Device1->Exposure);
}

void TForm1::tbBrightnessChange() {
  const double value = tbBrightness->value() / 200.0;
  if (Device1) Device1->SetBrightness(value);
  if (Device2) Device2->SetBrightness(value);
  if (Device1) ShowValue(Edit4, Device1->Brightness);
}

void TForm1::tbContrastChange() {
  const double value = tbContrast->value() / 200.0;
  if (Device1) Device1->SetContrast(value);
  if (Device2) Device2->SetContrast(value);
  if (Device1) ShowValue(Edit5, Device1->Contrast);
}

void TForm1::Button2Click() {
  if (!Device1) return;
  ValueRange range;
  Device1->GetFrameRateRange(range);
  AppendLog(RangeText(range).toStdString());
  Device1->GetExposureRange(range);
  AppendLog(RangeText(range).toStdString());
  if (tVideoDeviceuEye* camera = AsCamera(Device1)) {
    camera->GetPixelClockRange(range);
    AppendLog((Fixed(range.Minimum, 3) + ", " + Fixed(range.Maximum, 3)).toStdString());
  }
}

void TForm1::SetUpViewsFilesAndControls() {
  tbPixelClock = ui_->tbPixelClock;
  tbBrightness = ui_->tbBrightness;
  tbContrast = ui_->tbContrast;
  Edit1 = ui_->Edit1;
  Edit2 = ui_->Edit2;
  Edit3 = ui_->Edit3;
  Edit4 = ui_->Edit4;
  Edit5 = ui_->Edit5;
  Button2 = ui_->Button2;
  Button5 = ui_->Button5;
  BuDiff = ui_->BuDiff;
  BuAnal = ui_->BuAnal;
  Button7 = ui_->Button7;
  Button3 = ui_->Button3;
  BuCloseWriter = ui_->BuCloseWriter;
  ChCallback = ui_->ChCallback;
  BuOpenReader = ui_->BuOpenReader;
  BuReadSingle = ui_->BuReadSingle;
  BuCloseReader = ui_->BuCloseReader;

  const std::pair<QPushButton*, void (TForm1::*)()> buttons[] = {
      {Button2, &TForm1::Button2Click},
      {BuDiff, &TForm1::BuDiffClick},
      {BuAnal, &TForm1::BuAnalClick},
      {Button7, &TForm1::Button7Click},
      {Button3, &TForm1::Button3Click},
      {BuCloseWriter, &TForm1::BuCloseWriterClick},
      {BuOpenReader, &TForm1::BuOpenReaderClick},
      {BuReadSingle, &TForm1::BuReadSingleClick},
      {BuCloseReader, &TForm1::BuCloseReaderClick}};
  for (const auto& [button, handler] : buttons)
    connect(button, &QPushButton::clicked, this, Guarded([this, method = handler] { (this->*method)(); }));
  connect(ChCallback, &QCheckBox::toggled, this, Guarded([this] { ChCallbackClick(); }));
  const std::pair<QSlider*, void (TForm1::*)()> sliders[] = {{tbPixelClock, &TForm1::tbPixelClockChange},
                                                             {tbBrightness, &TForm1::tbBrightnessChange},
                                                             {tbContrast, &TForm1::tbContrastChange}};
  for (const auto& [slider, handler] : sliders)
    connect(slider, &QSlider::valueChanged, this, Guarded([this, method = handler] { (this->*method)(); }));
  for (QLineEdit* edit : {EdR1, EdR2, EdG1, EdG2, EdB1, EdB2})
    connect(edit, &QLineEdit::textChanged, this, Guarded([this] { ReadFactors(); }));
  // The texts the form starts with count as well as the ones loaded later.
  ReadFactors();
}
