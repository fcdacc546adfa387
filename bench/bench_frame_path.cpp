// Frames per second of one pair through the main window's frame path: the
// message hook takes both announcements, runs the (empty) filter chain and
// draws both images into the display panes. A plain memcpy of the same bytes
// stands beside it as the floor.

#include <benchmark/benchmark.h>

#include <QEvent>
#include <cstring>
#include <memory>
#include <vector>

#include "Video/vidclass/ipl.h"
#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"

namespace {

// A source whose image the benchmark fills once; no driver, no thread.
class StillSource : public tVideoDevice {
 public:
  StillSource(int width, int height) {
    Width = width;
    Height = height;
    Channels = 3;
    Image = CreateImage(cvSize(width, height), 3, 8, true);
    std::memset(Image->imageData, 0x5a, Image->imageSize);
  }
  ~StillSource() override { ReleaseImage(&Image); }
};

void FramePath(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  TForm1 form;
  TForm2 display;
  Form2 = &display;
  form.Device1 = std::make_unique<StillSource>(width, height);
  form.Device2 = std::make_unique<StillSource>(width, height);
  SizePane(display.PbGraf1, width, 3, 0, height);
  SizePane(display.PbGraf2, width, 3, display.PbGraf1->width() + 1, height);
  QEvent left(static_cast<QEvent::Type>(kFirstSourceMessage));
  QEvent right(static_cast<QEvent::Type>(kSecondSourceMessage));
  for (auto _ : state) {
    form.ApplicationEvents1Message(&left);
    form.ApplicationEvents1Message(&right);
    benchmark::DoNotOptimize(display.PbGraf2->Bitmap().Pixels());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 2 * int64_t(form.Device1->Image->imageSize));
  state.counters["pairs/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  Form2 = nullptr;
}

void PlainCopy(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 3;
  std::vector<char> source(2 * bytes, 0x5a);
  std::vector<char> target(2 * bytes);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    std::memcpy(target.data() + bytes, source.data() + bytes, bytes);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 2 * int64_t(bytes));
  state.counters["pairs/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(FramePath)->Args({640, 480})->Args({1280, 1024})->Unit(benchmark::kMicrosecond);
BENCHMARK(PlainCopy)->Args({640, 480})->Args({1280, 1024})->Unit(benchmark::kMicrosecond);

}  // namespace
