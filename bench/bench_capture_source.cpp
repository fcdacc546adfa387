// One system capture source live through the main window's pairing: a
// GStreamer test source at 640 x 480 BGR and 30 frames per second, opened as
// the device the window makes for a listed source. Reports the pairs per
// second, the copies made per frame between GStreamer's sample and the image
// the window pairs, and the share of one core the process used meanwhile.
// A second case feeds 1280 x 720 I420, so GStreamer converts and scales.

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "Video/vidclass/vidclass_dshow.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "bench/bench_measures.h"
#include "filters/vidfilters.h"
#include "platform/capture_devices.h"

namespace {

// Counts the pairs and those whose left image lies in the device's own
// buffer: a frame there would have been copied out of the sample.
class PairCounter : public TVidFilter {
 public:
  explicit PairCounter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    ++pairs;
    const IplImage* left = input.Left();
    if (left != nullptr && left->imageData == left->imageId) ++copied;
    return TVidFilter::ProcessPair(input);
  }
  int64_t pairs = 0;
  int64_t copied = 0;
};

int32_t IndexOf(const std::string& description) {
  const auto devices = platform::SystemCaptureDevices()->Devices();
  for (std::size_t i = 0; i < devices.size(); ++i)
    if (devices[i].source_description == description) return static_cast<int32_t>(i);
  return -1;
}

void LiveSource(benchmark::State& state, const std::string& description) {
  setenv("STEREO_CAPTURE_SOURCES", description.c_str(), 1);
  const int32_t index = IndexOf(description);
  if (index < 0) {
    state.SkipWithError("the test source is not listed");
    return;
  }
  TForm1 form;
  TForm2 display;
  Form2 = &display;
  auto counter = TVidFilter::Create<PairCounter>();
  form.FilterList.push_back({"Counter", std::shared_ptr<TVidFilter>(std::move(counter))});
  auto* pairs = static_cast<PairCounter*>(form.FilterList.back().Filter.get());
  auto device = std::make_unique<tVideoDeviceDShow>(index, &form);
  device->Width = 640;
  device->Height = 480;
  device->Channels = 3;
  device->Init(kFirstSourceMessage);
  SizePane(display.PbGraf1, 640, 3, 0, 480);
  form.Device1 = std::move(device);
  form.Device1->Start();
  QTest::qWait(500);  // the pipeline is running

  double cpu = 0;
  double wall = 0;
  const int64_t pairs_before = pairs->pairs;
  const int64_t copied_before = pairs->copied;
  for (auto _ : state) {
    const double cpu_start = bench::ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) QTest::qWait(5);
    cpu += bench::ProcessCpuSeconds() - cpu_start;
    wall += clock.nsecsElapsed() * 1e-9;
  }
  form.Device1->Stop();
  const double frames = double(pairs->pairs - pairs_before);
  state.counters["pairs_per_s"] = frames / wall;
  state.counters["copies_per_frame"] = frames > 0 ? double(pairs->copied - copied_before) / frames : 0.0;
  state.counters["core_share"] = cpu / wall;
  Form2 = nullptr;
}

void BM_CaptureSourceBgr640x480(benchmark::State& state) {
  LiveSource(state,
             "videotestsrc pattern=ball ! capsfilter caps=video/x-raw,format=BGR,width=640,height=480,"
             "framerate=30/1");
}
void BM_CaptureSourceI420At1280x720(benchmark::State& state) {
  LiveSource(state,
             "videotestsrc pattern=ball ! capsfilter caps=video/x-raw,format=I420,width=1280,height=720,"
             "framerate=30/1");
}
BENCHMARK(BM_CaptureSourceBgr640x480)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_CaptureSourceI420At1280x720)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
