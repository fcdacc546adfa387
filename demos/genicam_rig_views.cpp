#include "demos/genicam_rig_views.h"

#include <arv.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Video/vidclass/arvimp.h"
#include "drivers/frame_renderer.h"
#include "drivers/sim_config.h"
#include "drivers/sim_device.h"

namespace genicam_rig {
namespace {

// A software trigger a fake took: the scene's moment then, and the count of
// triggers seen in this trigger mode, its own one included.
struct TakenTrigger {
  double SceneTime_s = 0;
  uint32_t Number = 0;
  std::chrono::steady_clock::time_point When;
};

// One fake camera's view of the rig; it lives as long as the fake camera.
// A watcher takes the fake's software triggers as they come, so that none
// is lost while a frame is drawn: the fake itself keeps only the last one.
struct RigView {
  RigView(const sim::SimConfig& rig, uint32_t camera, ArvFakeCamera* camera_object,
          std::chrono::microseconds busy)
      : fake(camera_object),
        config(rig),
        camera_id(camera),
        renderer(rig, camera),
        frame_busy(busy),
        watcher([this] { Watch(); }) {}
  ~RigView() {
    ending = true;
    watcher.join();
  }
  void Watch() {
    bool trigger_mode = false;
    while (!ending) {
      // Triggers of an earlier trigger mode are not served in this one.
      if (arv_fake_camera_is_in_software_trigger_mode(fake) != trigger_mode) {
        trigger_mode = !trigger_mode;
        const std::lock_guard lock(mutex);
        triggers.clear();
        seen = 0;
      }
      // The scene is taken at the trigger, as a sensor exposes then: two
      // cameras triggered together show one moment. A trigger while a frame
      // is under way exposes nothing.
      if (trigger_mode && arv_fake_camera_get_acquisition_status(fake) != 0 &&
          arv_fake_camera_check_and_acknowledge_software_trigger(fake)) {
        const std::lock_guard lock(mutex);
        ++seen;
        if (triggers.empty() && !filling)
          triggers.push_back({SceneNow(), seen, std::chrono::steady_clock::now()});
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
  double SceneNow() const { return sim::SceneTimeAt(std::chrono::steady_clock::now(), config.scene_speed); }
  // In software-trigger mode the fake would serve a frame at every tick: the
  // view waits for a trigger, as the camera's sensor would, until
  // acquisition stops. The trigger, if one came.
  std::optional<TakenTrigger> WaitForTrigger() {
    while (arv_fake_camera_get_acquisition_status(fake) != 0 &&
           arv_fake_camera_is_in_software_trigger_mode(fake)) {
      {
        const std::lock_guard lock(mutex);
        if (!triggers.empty()) {
          const TakenTrigger trigger = triggers.front();
          triggers.pop_front();
          filling = true;
          return trigger;
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return std::nullopt;
  }
  // The frame of a trigger leaves the camera no earlier than its busy time.
  void FrameDone(const std::optional<TakenTrigger>& trigger) {
    if (!trigger) return;
    std::this_thread::sleep_until(trigger->When + frame_busy);
    const std::lock_guard lock(mutex);
    filling = false;
  }

  ArvFakeCamera* const fake;
  sim::SimConfig config;
  uint32_t camera_id;
  sim::FrameRenderer renderer;
  std::vector<uint8_t> colour;
  bool trigger_mode = false;
  uint32_t mode_frames = 0;
  std::mutex mutex;
  std::deque<TakenTrigger> triggers;
  uint32_t seen = 0;
  bool filling = false;
  const std::chrono::microseconds frame_busy;
  std::atomic<bool> ending{false};
  std::thread watcher;
};

const char* PatternOf(ArvPixelFormat format) {
  switch (format) {
    case ARV_PIXEL_FORMAT_BAYER_RG_8:
      return "RG";
    case ARV_PIXEL_FORMAT_BAYER_GB_8:
      return "GB";
    case ARV_PIXEL_FORMAT_BAYER_GR_8:
      return "GR";
    case ARV_PIXEL_FORMAT_BAYER_BG_8:
      return "BG";
    default:
      return nullptr;
  }
}

// Each frame's number since trigger mode last changed (a triggered frame's
// that of its trigger among all the camera saw), in the first bytes
// of its first and last rows, as STEREO_SIM_STAMP=1 asks of the rig.
void Stamp(uint8_t* pixels, int pitch, int height, uint32_t number) {
  for (const int row : {0, height - 1}) {
    for (int i = 0; i < 4; ++i)
      pixels[static_cast<ptrdiff_t>(row) * pitch + i] = static_cast<uint8_t>(number >> (8 * i));
  }
}

void DrawFrame(ArvBuffer* buffer, RigView& view, bool trigger_mode,
               const std::optional<TakenTrigger>& triggered, guint32 exposure_us, ArvPixelFormat format) {
  // Only a frame of a trigger, or of live acquisition, counts: the fake
  // fills buffers even while acquisition is stopped.
  const bool counted =
      trigger_mode ? triggered.has_value() : arv_fake_camera_get_acquisition_status(view.fake) != 0;
  if (trigger_mode != view.trigger_mode) view.mode_frames = 0;
  view.trigger_mode = trigger_mode;
  // The buffer tells no size while it is filled: it is written by the
  // camera's region and pixel format.
  const int width = static_cast<int>(arv_buffer_get_image_width(buffer));
  const int height = static_cast<int>(arv_buffer_get_image_height(buffer));
  auto* pixels = static_cast<uint8_t*>(const_cast<void*>(arv_buffer_get_data(buffer, nullptr)));
  if (pixels == nullptr || width <= 0 || height <= 0) return;
  const bool mono = format == ARV_PIXEL_FORMAT_MONO_8;
  const int colour_pitch = width * 3;
  sim::FrameRequest request;
  request.width = width;
  request.height = height;
  request.colour_mode = mono ? IS_CM_MONO8 : IS_CM_BGR24;
  request.scene_time_s = triggered ? triggered->SceneTime_s : view.SceneNow();
  request.exposure_ms = exposure_us / 1000.0;
  request.camera = sim::ModelForImage(view.config.cameras.at(view.camera_id - 1), width, height);
  if (mono) {
    request.pixels = pixels;
    request.pitch = width;
  } else {
    view.colour.resize(static_cast<size_t>(colour_pitch) * height);
    request.pixels = view.colour.data();
    request.pitch = colour_pitch;
  }
  view.renderer.Render(request);
  if (const char* pattern = PatternOf(format)) {
    Mosaic(view.colour.data(), colour_pitch, width, height, pattern, pixels);
  } else if (format == ARV_PIXEL_FORMAT_RGB_8_PACKED) {
    for (size_t i = 0; i < view.colour.size(); i += 3) {
      pixels[i] = view.colour[i + 2];
      pixels[i + 1] = view.colour[i + 1];
      pixels[i + 2] = view.colour[i];
    }
  }
  // A triggered frame carries its trigger's count, a live one its own.
  const uint32_t number = triggered ? triggered->Number : counted ? ++view.mode_frames : 0;
  if (view.config.stamp_frames)
    Stamp(pixels,
          mono                                      ? width
          : format == ARV_PIXEL_FORMAT_RGB_8_PACKED ? colour_pitch
                                                    : width,
          height, number);
}

void Fill(ArvBuffer* buffer, void* data, guint32 exposure_us, guint32, ArvPixelFormat format) {
  auto& view = *static_cast<RigView*>(data);
  const bool trigger_mode = arv_fake_camera_is_in_software_trigger_mode(view.fake);
  const std::optional<TakenTrigger> triggered = trigger_mode ? view.WaitForTrigger() : std::nullopt;
  DrawFrame(buffer, view, trigger_mode, triggered, exposure_us, format);
  view.FrameDone(triggered);
}

}  // namespace

void Mosaic(const uint8_t* bgr, int pitch, int width, int height, const char* pattern, uint8_t* out) {
  auto channel = [](char colour) { return colour == 'B' ? 0 : colour == 'G' ? 1 : 2; };
  // The second row holds the other two colours, green under the first row's
  // red or blue.
  const std::string top(pattern, 2);
  const std::string bottom = top == "RG" ? "GB" : top == "GB" ? "RG" : top == "GR" ? "BG" : "GR";
  const int first[2][2] = {{channel(top[0]), channel(top[1])}, {channel(bottom[0]), channel(bottom[1])}};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bgr + static_cast<ptrdiff_t>(y) * pitch;
    for (int x = 0; x < width; ++x)
      out[static_cast<ptrdiff_t>(y) * width + x] = row[x * 3 + first[y % 2][x % 2]];
  }
}

void ShowRigOnFakeCameras(const FakeRigSetUp& set_up) {
  arvimp::SetFakeCameraSetUp([set_up](int index, ArvFakeCamera* fake) {
    const sim::SimConfig rig = sim::ReadConfigFromEnvironment();
    const auto camera = static_cast<uint32_t>(index % std::max(1, static_cast<int>(rig.cameras.size())) + 1);
    auto* view = new RigView(rig, camera, fake, set_up.FrameBusy);
    arv_fake_camera_write_register(fake, ARV_FAKE_CAMERA_REGISTER_WIDTH, static_cast<guint32>(set_up.Width));
    arv_fake_camera_write_register(fake, ARV_FAKE_CAMERA_REGISTER_HEIGHT,
                                   static_cast<guint32>(set_up.Height));
    arv_fake_camera_write_register(fake, ARV_FAKE_CAMERA_REGISTER_PIXEL_FORMAT, set_up.PixelFormat);
    arv_fake_camera_set_trigger_frequency(fake, set_up.TriggerTicksPerSecond);
    // The view and its watcher go as the fake camera is disposed, before
    // its memory is freed.
    g_object_weak_ref(
        G_OBJECT(fake), [](gpointer data, GObject*) { delete static_cast<RigView*>(data); }, view);
    arv_fake_camera_set_fill_pattern(fake, &Fill, view);
  });
}

void StopShowingRig() { arvimp::SetFakeCameraSetUp({}); }

void SetSceneTime(double seconds) { sim::SetSceneTime(seconds); }

}  // namespace genicam_rig
