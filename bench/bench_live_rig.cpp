// The whole workbench live on the simulated rig with an empty chain: the
// share of a core the process takes, beside the rig's own share (the same
// cameras and capture threads with no window to announce to), and the time
// from a frame's announcement to the end of its paint in the pane. At
// 2 x 640 x 480 at 100 frames per second and 2 x 1280 x 1024 at 25.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "bench/bench_measures.h"

namespace {

using Clock = std::chrono::steady_clock;

int SideOf(uint32_t message) { return message == kFirstSourceMessage ? 0 : 1; }

// Stamps each announcement as the capture thread makes it, then posts it as
// the window would have received it.
class StampingWindow : public platform::MessageTarget {
 public:
  explicit StampingWindow(TForm1* form) : form_(form) {}
  void Post(uint32_t message) override {
    posted[SideOf(message)] = Clock::now().time_since_epoch().count();
    if (form_ != nullptr) form_->Post(message);
  }
  std::atomic<Clock::rep> posted[2] = {};

 private:
  TForm1* form_;
};

struct PaneAccess : TPane {
  using TPane::paintEvent;
};

// Takes the stamp of the frame a handled message stands for, and measures
// to the end of the pane's paint.
class PaintClock : public QObject {
 public:
  PaintClock(StampingWindow& window, TForm2& display) : window_(window), display_(display) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~PaintClock() override { QCoreApplication::instance()->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    const auto type = static_cast<uint32_t>(event->type());
    if (type == kFirstSourceMessage || type == kSecondSourceMessage) {
      handled_[SideOf(type)] = window_.posted[SideOf(type)].load();
      return false;
    }
    if (event->type() != QEvent::Paint) return false;
    const int side = watched == display_.PbGraf1 ? 0 : watched == display_.PbGraf2 ? 1 : -1;
    if (side < 0) return false;
    auto* pane = static_cast<TPane*>(watched);
    (pane->*&PaneAccess::paintEvent)(static_cast<QPaintEvent*>(event));
    if (handled_[side] != 0 && handled_[side] != painted_[side]) {
      painted_[side] = handled_[side];
      latency_ms.push_back(static_cast<double>(Clock::now().time_since_epoch().count() - handled_[side]) *
                           1e-6);
    }
    return true;
  }
  std::vector<double> latency_ms;

 private:
  StampingWindow& window_;
  TForm2& display_;
  Clock::rep handled_[2] = {};
  Clock::rep painted_[2] = {};
};

// Both cameras as the window sets them up, at the given size and rate.
void SetUpCamera(TForm1& form, TForm2& display, int side, StampingWindow& window, int width, int height,
                 double fps) {
  std::unique_ptr<tVideoDevice> device = MakeSourceDevice(kUEyeDeviceIdBase + side, &window);
  device->Width = width;
  device->Height = height;
  device->Channels = 3;
  device->Init(side == 1 ? kFirstSourceMessage : kSecondSourceMessage);
  device->SetFrameRate(fps);
  SizePane(side == 1 ? display.PbGraf1 : display.PbGraf2, width, 3, side == 1 ? 0 : width + 1, height);
  (side == 1 ? form.Device1 : form.Device2) = std::move(device);
}

void Live(benchmark::State& state, bool with_window) {
  if (!uEyeimp::Loaded() && !uEyeimp::Load()) {
    state.SkipWithError("libuEye_api.so does not load");
    return;
  }
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const auto fps = static_cast<double>(state.range(2));
  TForm1 form;
  TForm2 display;
  Form2 = &display;
  display.show();
  StampingWindow window(with_window ? &form : nullptr);
  PaintClock paints(window, display);
  SetUpCamera(form, display, 1, window, width, height, fps);
  SetUpCamera(form, display, 2, window, width, height, fps);
  form.BuStartClick();
  QTest::qWait(1000);
  paints.latency_ms.clear();

  double cpu = 0.0;
  double wall = 0.0;
  for (auto _ : state) {
    const double cpu_before = bench::ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) QTest::qWait(5);
    cpu += bench::ProcessCpuSeconds() - cpu_before;
    wall += static_cast<double>(clock.nsecsElapsed()) * 1e-9;
  }
  state.counters["core_share"] = cpu / wall;
  state.counters["frame_rate"] = form.Device1->FrameRate;
  if (with_window) {
    state.counters["paints_per_s"] = static_cast<double>(paints.latency_ms.size()) / wall;
    state.counters["paint_median_ms"] = bench::Percentile(paints.latency_ms, 0.5);
    state.counters["paint_p99_ms"] = bench::Percentile(paints.latency_ms, 0.99);
  }
  form.BuStopClick();
  form.Device1.reset();
  form.Device2.reset();
  Form2 = nullptr;
}

void LiveRig(benchmark::State& state) { Live(state, false); }
void LiveWindow(benchmark::State& state) { Live(state, true); }

BENCHMARK(LiveRig)
    ->Args({640, 480, 100})
    ->Args({1280, 1024, 25})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LiveWindow)
    ->Args({640, 480, 100})
    ->Args({1280, 1024, 25})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
