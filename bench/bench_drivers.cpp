// Cost of the simulated cameras: one rendered frame at the sizes the
// workbench uses, and the processor share of two cameras running live.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

#include "bench/bench_measures.h"
#include "drivers/frame_renderer.h"
#include "drivers/sim_config.h"

namespace {

void RenderFrames(benchmark::State& state, int width, int height, int32_t colour_mode, int bytes_per_pixel,
                  sim::ImageSource source = sim::ImageSource::kMovingBoard) {
  sim::SimConfig config = sim::ReadConfigFromEnvironment();
  config.source = source;
  sim::FrameRenderer renderer(config, 1);
  const int pitch = (width * bytes_per_pixel + 3) / 4 * 4;
  std::vector<uint8_t> memory(static_cast<size_t>(pitch) * height);
  sim::FrameRequest request;
  request.pixels = memory.data();
  request.pitch = pitch;
  request.width = width;
  request.height = height;
  request.colour_mode = colour_mode;
  request.camera = sim::ModelForImage(config.cameras[0], width, height);
  renderer.Render(request);  // the ray table is built once per size, not per frame
  double scene_time = 0;
  for (auto _ : state) {
    request.scene_time_s = scene_time;
    scene_time += 0.37;  // a different pose every frame
    renderer.Render(request);
    benchmark::DoNotOptimize(memory.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RenderColour640x480(benchmark::State& state) { RenderFrames(state, 640, 480, IS_CM_BGR24, 3); }
void BM_RenderGrey1280x1024(benchmark::State& state) { RenderFrames(state, 1280, 1024, IS_CM_MONO8, 1); }
// The textured depth scene: wall, panel and board in every pixel.
void BM_RenderScene640x480(benchmark::State& state) {
  RenderFrames(state, 640, 480, IS_CM_BGR24, 3, sim::ImageSource::kScene);
}
BENCHMARK(BM_RenderColour640x480)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderScene640x480)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderGrey1280x1024)->Unit(benchmark::kMillisecond);

// Two cameras of the driver library at 640 x 480 colour and 100 frames per
// second; reports the share of one core the process used while they ran.
void BM_TwoCamerasLive100fps(benchmark::State& state) {
  const auto path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libuEye_api.so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    state.SkipWithError("libuEye_api.so does not load");
    return;
  }
#define CALL(name) reinterpret_cast<decltype(&name)>(dlsym(library, #name))
  HCAM cameras[2] = {1, 2};
  int events[2] = {eventfd(0, EFD_NONBLOCK), eventfd(0, EFD_NONBLOCK)};
  double rate = 0;
  for (int i = 0; i < 2; ++i) {
    char* memory = nullptr;
    int32_t id = 0;
    CALL(is_InitCamera)(&cameras[i], nullptr);
    CALL(is_AllocImageMem)(cameras[i], 640, 480, 24, &memory, &id);
    CALL(is_SetImageMem)(cameras[i], memory, id);
    CALL(is_SetImageSize)(cameras[i], 640, 480);
    CALL(is_SetColorMode)(cameras[i], IS_CM_BGR24);
    CALL(is_SetPixelClock)(cameras[i], 40);
    CALL(is_SetFrameRate)(cameras[i], 100.0, &rate);
    CALL(is_InitEvent)(cameras[i], events[i], IS_SET_EVENT_FRAME);
    CALL(is_EnableEvent)(cameras[i], IS_SET_EVENT_FRAME);
    CALL(is_CaptureVideo)(cameras[i], 0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // ray tables built
  uint64_t frames = 0;
  double cpu = 0;
  double wall = 0;
  for (auto _ : state) {
    for (int fd : events) {
      uint64_t count = 0;
      if (read(fd, &count, sizeof count) < 0) count = 0;
    }
    const double cpu_start = bench::ProcessCpuSeconds();
    const auto wall_start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    cpu += bench::ProcessCpuSeconds() - cpu_start;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    for (int fd : events) {
      uint64_t count = 0;
      if (read(fd, &count, sizeof count) == sizeof count) frames += count;
    }
  }
  for (HCAM camera : cameras) CALL(is_ExitCamera)(camera);
#undef CALL
  for (int fd : events) close(fd);
  dlclose(library);
  state.counters["rate_set_fps"] = rate;
  state.counters["frames_per_s"] = frames / wall;
  state.counters["core_share"] = cpu / wall;
}
BENCHMARK(BM_TwoCamerasLive100fps)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
