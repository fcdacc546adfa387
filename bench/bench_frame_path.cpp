// Frames per second of one pair through the main window's frame path: the
// message hook takes both announcements, runs the (empty) filter chain and
// draws both images into the display panes. A plain memcpy of the same bytes
// stands beside it as the floor.

#include <benchmark/benchmark.h>

#include <QEvent>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Video/vidclass/ipl.h"
#include "Video/vidclass/vidclass.h"
#include "Video/vidclass/vidclass_dshow.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "platform/capture_devices.h"

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

const char kCaptureSource[] = "videotestsrc ! capsfilter caps=video/x-raw,format=BGR,width=1280,height=720";

// A capture device opened at the listed source's own mode; its pipeline is
// linked but never run: the benchmark hands it the samples.
std::unique_ptr<tVideoDeviceDShow> OpenCaptureDevice(uint32_t message) {
  setenv("STEREO_CAPTURE_SOURCES", kCaptureSource, 1);
  const auto devices = platform::SystemCaptureDevices()->Devices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].source_description != kCaptureSource) continue;
    auto device = std::make_unique<tVideoDeviceDShow>(static_cast<int32_t>(i), nullptr);
    device->Init(message);
    return device;
  }
  return nullptr;
}

double SteadyNow_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void CaptureFramePath(benchmark::State& state) {
  TForm1 form;
  TForm2 display;
  Form2 = &display;
  auto left_device = OpenCaptureDevice(kFirstSourceMessage);
  auto right_device = OpenCaptureDevice(kSecondSourceMessage);
  if (!left_device || !right_device || left_device->Width != state.range(0) || left_device->Channels != 3) {
    state.SkipWithError("the capture source did not open at 1280 x 720 BGR");
    Form2 = nullptr;
    return;
  }
  tVideoDeviceDShow* left_source = left_device.get();
  tVideoDeviceDShow* right_source = right_device.get();
  form.Device1 = std::move(left_device);
  form.Device2 = std::move(right_device);
  const int width = left_source->Width;
  const int height = left_source->Height;
  SizePane(display.PbGraf1, width, 3, 0, height);
  SizePane(display.PbGraf2, width, 3, display.PbGraf1->width() + 1, height);
  // Two samples' memory, as the pipeline would hand them over.
  const int stride = width * 3;
  auto memory = std::make_shared<std::vector<char>>(2 * size_t(stride) * height, 0x5a);
  QEvent left(static_cast<QEvent::Type>(kFirstSourceMessage));
  QEvent right(static_cast<QEvent::Type>(kSecondSourceMessage));
  const long length = long(stride) * height;
  for (auto _ : state) {
    const double now_ms = SteadyNow_ms();
    left_source->TakeSample({memory->data(), length, stride, now_ms, memory});
    right_source->TakeSample({memory->data() + length, length, stride, now_ms, memory});
    form.ApplicationEvents1Message(&left);
    form.ApplicationEvents1Message(&right);
    benchmark::DoNotOptimize(display.PbGraf2->Bitmap().Pixels());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 2 * int64_t(length));
  state.counters["pairs/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  form.Device1.reset();
  form.Device2.reset();
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
BENCHMARK(PlainCopy)->Args({640, 480})->Args({1280, 720})->Args({1280, 1024})->Unit(benchmark::kMicrosecond);
const auto* const capture_row = benchmark::RegisterBenchmark("FramePath/Capture", &CaptureFramePath)
                                    -> Args({1280, 720}) -> Unit(benchmark::kMicrosecond);

}  // namespace
