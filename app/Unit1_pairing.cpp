// Frame pairing and processing: the message hook, the filter chain, the
// start/stop/trigger buttons and trigger mode with its timer.

#include <QCheckBox>
#include <QEvent>
#include <QSlider>
#include <QStatusBar>
#include <chrono>
#include <thread>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/every_step.h"
#include "app/qtimer.h"
#include "filters/vidfilters.h"

namespace {

// A source that refuses to start or stop does not hold back the other one;
// the first refusal is raised once both were asked.
void OnBothSources(tVideoDevice* first, tVideoDevice* second, void (tVideoDevice::*operation)()) {
  RunEveryStep({[&] {
                  if (first != nullptr) (first->*operation)();
                },
                [&] {
                  if (second != nullptr) (second->*operation)();
                }});
}

}  // namespace

bool TForm1::ApplicationEvents1Message(QEvent* event) {
  bool handled = false;
  const auto message = static_cast<uint32_t>(event->type());
  // Taken before the pair is handled: a frame that comes while the chain
  // runs is announced again, and that pair reads the newest image.
  if (platform::FrameMessageGate* gate = GateFor(message)) gate->Taken();
  if (message == kFirstSourceMessage && Device1) {
    WriteAnnouncedFrame(1);
    Arrived1 = true;
    handled = true;
  } else if (message == kSecondSourceMessage && Device2) {
    WriteAnnouncedFrame(2);
    Arrived2 = true;
    handled = true;
  }
  const bool complete = (Arrived1 && Arrived2) || (Arrived1 && !Device2) || (Arrived2 && !Device1);
  if (!complete) return handled;

  CurrentLeft = Device1 ? Device1->Image : nullptr;
  CurrentRight = Device2 ? Device2->Image : nullptr;
  // Cleared first: a filter that throws must not make every later event of
  // the application retry the same pair.
  Arrived1 = false;
  Arrived2 = false;
  HandlePair(CurrentLeft, CurrentRight);
  return handled;
}

void TForm1::HandlePair(IplImage* left, IplImage* right) {
  RunFilterChain(left, right);
  if (Form2 == nullptr) return;
  // The inputs decide whether a side is drawn; what is drawn is the chain's output.
  const bool display = ChDisplay->isChecked();
  if (display && !ChAnal->isChecked() && left != nullptr) DrawImage(ProcessedLeft, Form2->PbGraf1);
  if (display && !ChDiff->isChecked() && right != nullptr) DrawImage(ProcessedRight, Form2->PbGraf2);
  if (ChDiff->isChecked()) ShowDifference();
  if (ChAnal->isChecked()) ShowAnaglyph();
}

void TForm1::RunFilterChain(IplImage* left, IplImage* right) {
  ProcessedLeft = left;
  ProcessedRight = right;
  ImagePair pair;
  pair.Left() = left;
  pair.Right() = right;
  // Every filter runs whatever its check mark; a disabled one passes the
  // pair on unchanged.
  for (const TFilterEntry& entry : FilterList) pair = entry.Filter->ProcessPair(pair);
  ProcessedLeft = pair.Left();
  ProcessedRight = pair.Right();
}

void TForm1::BuStartClick() { OnBothSources(Device1.get(), Device2.get(), &tVideoDevice::Start); }

void TForm1::BuStopClick() { OnBothSources(Device1.get(), Device2.get(), &tVideoDevice::Stop); }

void TForm1::TriggerClick() {
  QString results;
  for (tVideoDevice* device : {Device1.get(), Device2.get()}) {
    if (device == nullptr) continue;
    device->Trigger();
    results += QString::number(device->LastResult.load());
  }
  StatusBar1->showMessage(results);
}

void TForm1::BuDisplay1Click() {
  if (Device1 && Form2 != nullptr) DrawImage(Device1->Image, Form2->PbGraf1);
}

void TForm1::BuDisplay2Click() {
  if (Device2 && Form2 != nullptr) DrawImage(Device2->Image, Form2->PbGraf2);
}

void TForm1::TriggerBoth() {
  TForm1* form = Form1;
  if (form == nullptr) return;
  const std::lock_guard lock(form->source_mutex_);
  if (form->Device1) form->Device1->Trigger();
  if (form->Device2) form->Device2->Trigger();
}

void TForm1::StartTimer() {
  // Never two timers: the one running is ended before its successor starts.
  EndTimer();
  auto timer = std::make_unique<TQueryTimer>();
  timer->SetPriorityBelowNormal();
  timer->Interval = TimerInterval(tbFrameRate->value());
  timer->OnTimer = &TForm1::TriggerBoth;
  timer->Start();
  QueryTimer = std::move(timer);
}

void TForm1::EndTimer() {
  if (!QueryTimer) return;
  QueryTimer->Terminate();
  QueryTimer->WaitFor();
  QueryTimer.reset();
}

void TForm1::Button1Click() { StartTimer(); }

void TForm1::ChTriggerClick() {
  const bool on = ChTrigger->isChecked();
  if (Device1) Device1->SetTriggerMode(on);
  if (Device2) Device2->SetTriggerMode(on);
  if (on) {
    StartTimer();
    return;
  }
  if (QueryTimer) QueryTimer->Terminate();
  // Gives the cameras time to leave trigger mode before live capture resumes.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  BuStartClick();
  EndTimer();
}
