// The whole workbench live on the simulated rig with an empty chain: the
// share of a core the process takes, beside the rig's own share (the same
// cameras and capture threads with no window to announce to), and the time
// from a frame's announcement to the end of its paint in the pane. At
// 2 x 640 x 480 at 100 frames per second and 2 x 1280 x 1024 at 25.
// LiveSlowChain runs the 100 frames per second for a minute behind a filter
// that takes 100 ms per pair: how old the newest frame is when its message
// is handled, the messages handled per pair, and the growth of resident
// memory from its first ten seconds to its end. LiveDepth runs the textured
// scene at 2 x 640 x 480 at 25 frames per second through "Rectify both" and a
// semi-global disparity filter of 64 disparities: maps per second, paints of
// each pane per second and the announcement-to-paint time.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "bench/bench_measures.h"
#include "demos/rig_operator.h"
#include "filters/disparity_filter.h"
#include "filters/vidfilters.h"
#include "filters/vidfilters_distort.h"

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
      age_ms.push_back(static_cast<double>(Clock::now().time_since_epoch().count() - handled_[SideOf(type)]) *
                       1e-6);
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
  // How old the newest frame of a source is when one of its messages is taken.
  std::vector<double> age_ms;

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

// A chessboard search or a calibration: 100 ms per pair.
class SlowFilter : public TVidFilter {
 public:
  explicit SlowFilter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ++pairs;
    return TVidFilter::ProcessPair(input);
  }
  int64_t pairs = 0;
};

double ResidentMiB() {
  long pages = 0;
  long resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

void RunFor(std::chrono::milliseconds duration) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < duration.count()) QTest::qWait(5);
}

enum class Run { RigOnly, Window, SlowChain, Depth, DepthEveryStep };

// "Rectify both" with the rig's own calibration, then the disparity filter:
// with its default settings, or with every step after matching and the
// matcher of that kind.
std::shared_ptr<TDisparityFilter> AddDepthChain(TForm1& form, int width, int height,
                                                std::optional<TMatcherKind> every_step_with) {
  const rig_operator::SimulatedRig rig;
  rig.SetSceneTime(1058.5);
  auto distort = TVidFilter::Create<TDistortFilter>();
  distort->StereoResult = rig.TrueCalibration({width, height});
  distort->SetMode(kRectifyBoth);
  std::shared_ptr<TDisparityFilter> disparity = TVidFilter::Create<TDisparityFilter>();
  if (every_step_with) {
    TDisparitySettings settings = disparity->Settings;
    settings.Matcher = *every_step_with;
    TDisparityPostSettings& post = settings.Post;
    post.LeftRightCheck = post.TextureCheck = post.Fill = post.Temporal = post.Range = true;
    disparity->SetSettings(settings);
  }
  form.FilterList.push_back({"Distortion", std::move(distort)});
  form.FilterList.push_back({"Disparity", disparity});
  return disparity;
}

void Live(benchmark::State& state, Run run) {
  const bool with_window = run != Run::RigOnly;
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
  std::shared_ptr<SlowFilter> slow;
  std::shared_ptr<TDisparityFilter> depth;
  if (run == Run::Depth) depth = AddDepthChain(form, width, height, std::nullopt);
  if (run == Run::DepthEveryStep)
    depth = AddDepthChain(form, width, height, static_cast<TMatcherKind>(state.range(3)));
  if (run == Run::SlowChain) {
    slow = TVidFilter::Create<SlowFilter>();
    form.FilterList.push_back({"Slow", slow});
  }
  form.BuStartClick();
  QTest::qWait(1000);
  paints.latency_ms.clear();
  paints.age_ms.clear();
  int handled_before = 0;
  const auto maps_made = [&depth] { return depth && depth->ShownMap() ? depth->ShownMap()->Sequence : 0; };
  const uint64_t maps_before = maps_made();

  double cpu = 0.0;
  double wall = 0.0;
  for (auto _ : state) {
    const double cpu_before = bench::ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    if (run == Run::SlowChain) {
      RunFor(std::chrono::seconds(10));
      const double resident_mib = ResidentMiB();
      handled_before = static_cast<int>(paints.age_ms.size());
      const int64_t pairs_before = slow->pairs;
      RunFor(std::chrono::seconds(50));
      state.counters["rss_growth_mib"] = ResidentMiB() - resident_mib;
      state.counters["messages_per_pair"] =
          static_cast<double>(paints.age_ms.size() - static_cast<size_t>(handled_before)) /
          static_cast<double>(std::max<int64_t>(slow->pairs - pairs_before, 1));
    } else {
      RunFor(std::chrono::seconds(5));
    }
    cpu += bench::ProcessCpuSeconds() - cpu_before;
    wall += static_cast<double>(clock.nsecsElapsed()) * 1e-9;
  }
  state.counters["core_share"] = cpu / wall;
  if (depth) {
    state.counters["maps_per_s"] = static_cast<double>(maps_made() - maps_before) / wall;
    state.counters["pane_paints_per_s"] = static_cast<double>(paints.latency_ms.size()) / 2 / wall;
    // The newest map's own times: the matching, and the steps after it.
    if (const auto map = depth->ShownMap()) {
      state.counters["matcher_ms"] = map->Matcher_ms;
      state.counters["post_ms"] = map->Post_ms;
    }
  }
  state.counters["frame_rate"] = form.Device1->FrameRate;
  if (with_window) {
    state.counters["paints_per_s"] = static_cast<double>(paints.latency_ms.size()) / wall;
    state.counters["paint_median_ms"] = bench::Percentile(paints.latency_ms, 0.5);
    state.counters["paint_p99_ms"] = bench::Percentile(paints.latency_ms, 0.99);
    state.counters["age_p99_ms"] = bench::Percentile(paints.age_ms, 0.99);
    state.counters["age_max_ms"] = bench::Percentile(paints.age_ms, 1.0);
  }
  form.BuStopClick();
  form.Device1.reset();
  form.Device2.reset();
  Form2 = nullptr;
}

void LiveRig(benchmark::State& state) { Live(state, Run::RigOnly); }
void LiveWindow(benchmark::State& state) { Live(state, Run::Window); }
void LiveSlowChain(benchmark::State& state) { Live(state, Run::SlowChain); }
void LiveStillScene(benchmark::State& state, Run run) {
  setenv("STEREO_SIM_SOURCE", "scene", 1);
  setenv("STEREO_SIM_SCENE_SPEED", "0", 1);
  Live(state, run);
  unsetenv("STEREO_SIM_SOURCE");
  unsetenv("STEREO_SIM_SCENE_SPEED");
}
void LiveDepth(benchmark::State& state) { LiveStillScene(state, Run::Depth); }
// Cameras faster than the 25 maps a second asked for; the last argument is
// the matcher (1 semi-global, 2 its three-way mode).
void LiveDepthEveryStep(benchmark::State& state) { LiveStillScene(state, Run::DepthEveryStep); }

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

BENCHMARK(LiveSlowChain)->Args({640, 480, 100})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LiveDepth)->Args({640, 480, 25})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LiveDepthEveryStep)
    ->Args({640, 480, 30, 1})
    ->Args({640, 480, 30, 2})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
