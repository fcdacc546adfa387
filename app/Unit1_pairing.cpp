// Frame pairing and processing: the message hook, the filter chain, the
// start/stop/trigger buttons and trigger mode with its timer.

#include <QCheckBox>
#include <QEvent>
#include <QSlider>
#include <QStatusBar>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/every_step.h"
#include "app/pair_moment.h"
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
  // runs is announced again, and its pair is chosen from the frames then held.
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
  // After every message, whatever its number: an arrival that waits for a
  // source that has gone meanwhile is handled alone.
  TakeArrivals();
  return handled;
}

void TForm1::TakeArrivals() {
  if (!Arrived1 && !Arrived2) return;
  if (Device1 && Device2) {
    // Both open: only whole pairs. An arrival waits for the other source's.
    if (Arrived1 && Arrived2) PairBothSides();
    return;
  }
  HandleOneSided(Arrived1 ? 1 : 2);
}

void TForm1::PairBothSides() {
  // A memory refilled between the choice and its lock costs another look.
  constexpr int kHoldAttempts = 3;
  for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
    const FrameList left = Device1->CompleteFrames();
    const FrameList right = Device2->CompleteFrames();
    const MomentRule rule{FramePeriod_ms(false) / 2, Device1->AnswersTriggers(), Device2->AnswersTriggers()};
    const std::optional<PairChoice> choice = ChooseMoment(left, right, rule, last_pair_);
    if (!choice) {
      // The newer side waits for its partner's next frame.
      (OlderSide(left, right) == 1 ? Arrived1 : Arrived2) = false;
      return;
    }
    // Both frames are kept before either side lets go of the pair it holds:
    // a pair that can not be held whole leaves the last one as it was.
    if (!Device2->PinFrame(choice->Right)) continue;
    IplImage* held_left = Device1->HoldFrame(choice->Left);
    IplImage* held_right = held_left != nullptr ? Device2->HoldFrame(choice->Right) : nullptr;
    Device2->UnpinFrame(choice->Right);
    if (held_right != nullptr) {
      last_pair_ = *choice;
      HandleHeldPair(held_left, held_right, {choice->Left.Stamp, choice->Right.Stamp});
      return;
    }
  }
  // The frames went while they were chosen; the next announcements bring new ones.
  Arrived1 = false;
  Arrived2 = false;
}

void TForm1::HandleOneSided(int side) {
  tVideoDevice* device = side == 1 ? Device1.get() : Device2.get();
  FrameStamp stamp;
  IplImage* held = device->HoldNewestFrame(&stamp);
  if (side == 1) {
    HandleHeldPair(held, nullptr, {stamp, FrameStamp{}});
  } else {
    HandleHeldPair(nullptr, held, {FrameStamp{}, stamp});
  }
}

void TForm1::HandleHeldPair(IplImage* left, IplImage* right, const std::array<FrameStamp, 2>& stamps) {
  CurrentLeft = left;
  CurrentRight = right;
  CurrentStamps = stamps;
  // Cleared first: a filter that throws must not make every later event of
  // the application retry the same pair.
  Arrived1 = false;
  Arrived2 = false;
  if (left == nullptr && right == nullptr) return;
  if (left != nullptr) CountArrival(1, stamps[0]);
  if (right != nullptr) CountArrival(2, stamps[1]);
  if (left != nullptr && right != nullptr) CountPair();
  for (const LivePairHook& hook : LivePairHooks) hook(left, right, stamps);
  HandlePair(CurrentLeft, CurrentRight);
}

double TForm1::FramePeriod_ms(bool slower) const {
  // A source that tells no rate is taken at the video rate.
  constexpr double kUnknownPeriod_ms = 40.0;
  std::optional<double> chosen;
  const auto consider = [&](double period) {
    if (!chosen || (slower ? period > *chosen : period < *chosen)) chosen = period;
  };
  for (const tVideoDevice* device : {Device1.get(), Device2.get()}) {
    if (device != nullptr && device->FrameRate > 0) consider(1000.0 / device->FrameRate);
  }
  if (ChTrigger->isChecked()) {
    if (const double interval = TimerInterval(tbFrameRate->value()); std::isfinite(interval))
      consider(interval);
  }
  return chosen.value_or(kUnknownPeriod_ms);
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
  pair.Stamps = CurrentStamps;
  // Every filter runs whatever its check mark; a disabled one passes the
  // pair on unchanged.
  for (const TFilterEntry& entry : FilterList) pair = entry.Filter->ProcessPair(pair);
  ProcessedLeft = pair.Left();
  ProcessedRight = pair.Right();
}

void TForm1::BuStartClick() { OnBothSources(Device1.get(), Device2.get(), &tVideoDevice::Start); }

void TForm1::BuStopClick() { OnBothSources(Device1.get(), Device2.get(), &tVideoDevice::Stop); }

uint64_t TForm1::NextTriggerNumber() { return numbering_triggers_ ? ++trigger_count_ : 0; }

void TForm1::TriggerClick() {
  QString results;
  const uint64_t number = NextTriggerNumber();
  for (tVideoDevice* device : {Device1.get(), Device2.get()}) {
    if (device == nullptr) continue;
    device->TriggerNumbered(number);
    results += QString::number(device->LastResult.load());
  }
  StatusBar1->showMessage(results);
}

void TForm1::BuDisplay1Click() {
  if (Device1 && Form2 != nullptr) DrawImage(Device1->HeldOrNewestFrame(), Form2->PbGraf1);
}

void TForm1::BuDisplay2Click() {
  if (Device2 && Form2 != nullptr) DrawImage(Device2->HeldOrNewestFrame(), Form2->PbGraf2);
}

void TForm1::TriggerBoth() {
  TForm1* form = Form1;
  if (form == nullptr) return;
  const std::lock_guard lock(form->source_mutex_);
  // The pairs are told apart by their exposure times: a call held up until
  // the next one is due (this thread preempted between the two triggers)
  // would expose two moments close together, so the next moment comes at
  // least three quarters of a period after the last trigger.
  using Duration = std::chrono::steady_clock::duration;
  const double period_ms = form->trigger_period_ms_.load();
  const auto period = std::chrono::duration_cast<Duration>(
      std::chrono::duration<double, std::milli>(period_ms < 1e9 ? period_ms : 1e9));
  const auto spacing = period * 3 / 4;
  const auto now = std::chrono::steady_clock::now();
  if (now - form->last_trigger_ < spacing) return;
  // Both cameras answer a trigger before the next: a camera keeps one
  // trigger while it exposes, so two sent meanwhile would give one frame.
  // A trigger unanswered for a second or five periods was lost.
  const Duration lost_after = std::max<Duration>(std::chrono::seconds(1), period * 5);
  for (tVideoDevice* device : {form->Device1.get(), form->Device2.get()})
    if (device != nullptr && device->Triggers.AwaitsFrame(now, lost_after)) return;
  // One number for both cameras: their frames of this trigger are one moment.
  const uint64_t number = form->NextTriggerNumber();
  if (form->Device1) form->Device1->TriggerNumbered(number);
  if (form->Device2) form->Device2->TriggerNumbered(number);
  form->last_trigger_ = std::chrono::steady_clock::now();
}

void TForm1::StartTimer() {
  // Never two timers: the one running is ended before its successor starts.
  EndTimer();
  auto timer = std::make_unique<TQueryTimer>();
  timer->SetPriorityBelowNormal();
  timer->Interval = TimerInterval(tbFrameRate->value());
  trigger_period_ms_ = timer->Interval.load();
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
  {
    // Triggers of the last mode are answered by no frame of the next.
    const std::lock_guard lock(source_mutex_);
    numbering_triggers_ = on;
    for (tVideoDevice* device : {Device1.get(), Device2.get()}) {
      if (device != nullptr) device->Triggers.Clear();
    }
  }
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
