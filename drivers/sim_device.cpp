#include "drivers/sim_device.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "drivers/frame_renderer.h"
#include "drivers/sensor_timing.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kMinImageSize = 8;
constexpr size_t kMaxPendingTriggers = 16;
// Analogue video has no exposure control; the board's camera integrates this long.
constexpr double kVideoExposureMs = 10.0;

int32_t BitsOfColourMode(int32_t mode) {
  switch (mode) {
    case IS_CM_MONO8:
      return 8;
    case IS_CM_BGR24:
      return 24;
    case IS_CM_BGRX32:
      return 32;
    default:
      return 0;
  }
}

Clock::duration Seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

std::optional<Clock::time_point> UnplugTime(const SimConfig& config, uint32_t camera_id) {
  for (const UnplugRule& rule : config.unplug) {
    if (rule.camera_id == camera_id) return Clock::now() + Seconds(rule.after_s);
  }
  return std::nullopt;
}

}  // namespace

const DeviceProfile kCameraProfile{IS_SET_EVENT_FRAME, kSensorWidth, kSensorHeight, kSensorWidth,
                                   kSensorHeight,      IS_CM_BGR24,  true,          0.0};
const DeviceProfile kBoardProfile{IS_SET_EVENT_BOARD_FRAME, 768, 576, 768, 576, IS_CM_MONO8, false, 0.04};

namespace {

struct SceneClock {
  std::mutex mutex;
  Clock::time_point epoch = Clock::now();
  double offset_s = 0.0;
};

// A plain global: it is made when the library loads and outlives the device
// table, whose destruction on unload still lets render threads read it.
SceneClock scene_clock;

SceneClock& LibrarySceneClock() { return scene_clock; }

}  // namespace

double SceneTimeAt(Clock::time_point when, double speed) {
  SceneClock& clock = LibrarySceneClock();
  std::lock_guard lock(clock.mutex);
  return clock.offset_s + std::chrono::duration<double>(when - clock.epoch).count() * speed;
}

void SetSceneTime(double scene_time_s) {
  SceneClock& clock = LibrarySceneClock();
  std::lock_guard lock(clock.mutex);
  clock.epoch = Clock::now();
  clock.offset_s = scene_time_s;
}

SimDevice::SimDevice(const DeviceProfile& profile, uint32_t camera_id, const SimConfig& config)
    : profile_(profile),
      camera_id_(camera_id),
      geometry_(config.cameras.at(camera_id - 1)),
      scene_speed_(config.scene_speed),
      unplug_at_(UnplugTime(config, camera_id)),
      renderer_(std::make_unique<FrameRenderer>(config, camera_id)),
      width_(profile.default_width),
      height_(profile.default_height),
      colour_mode_(profile.default_colour_mode) {
  UpdateTiming();
  thread_ = std::thread([this] { RenderLoop(); });
}

SimDevice::~SimDevice() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  delivered_.notify_all();
  thread_.join();
}

// ---- image memory --------------------------------------------------------

int32_t SimDevice::AllocMemory(int32_t width, int32_t height, int32_t bits, char** memory, int32_t* id) {
  if (memory == nullptr || id == nullptr) return IS_INVALID_PARAMETER;
  if (width < kMinImageSize || height < kMinImageSize || width > profile_.max_width * 4 ||
      height > profile_.max_height * 4 || (bits != 8 && bits != 24 && bits != 32)) {
    return IS_INVALID_PARAMETER;
  }
  auto block = std::make_shared<ImageMemory>();
  block->width = width;
  block->height = height;
  block->bits = bits;
  block->pitch = (width * (bits / 8) + 3) / 4 * 4;
  block->bytes.reset(new uint8_t[static_cast<size_t>(block->pitch) * height]());
  std::lock_guard lock(mutex_);
  block->id = next_memory_id_++;
  *memory = reinterpret_cast<char*>(block->bytes.get());
  *id = block->id;
  memories_[block->id] = std::move(block);
  return IS_SUCCESS;
}

std::shared_ptr<ImageMemory> SimDevice::FindMemory(const char* memory, int32_t id) const {
  const auto found = memories_.find(id);
  if (found == memories_.end() || reinterpret_cast<const char*>(found->second->bytes.get()) != memory)
    return nullptr;
  return found->second;
}

int32_t SimDevice::SetActiveMemory(const char* memory, int32_t id) {
  std::lock_guard lock(mutex_);
  auto block = FindMemory(memory, id);
  if (!block) return IS_INVALID_PARAMETER;
  active_ = std::move(block);
  return IS_SUCCESS;
}

int32_t SimDevice::FreeMemory(const char* memory, int32_t id) {
  std::lock_guard lock(mutex_);
  if (!FindMemory(memory, id)) return IS_INVALID_PARAMETER;
  // A frame being rendered keeps its own reference until it is done.
  if (active_ && active_->id == id) active_.reset();
  memories_.erase(id);
  return IS_SUCCESS;
}

int32_t SimDevice::ActiveMemory(void** memory) const {
  if (memory == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  *memory = active_ ? active_->bytes.get() : nullptr;
  return active_ ? IS_SUCCESS : IS_NO_SUCCESS;
}

int32_t SimDevice::ActivePitch(int32_t* pitch) const {
  if (pitch == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  *pitch = active_ ? active_->pitch : 0;
  return active_ ? IS_SUCCESS : IS_NO_SUCCESS;
}

// ---- format --------------------------------------------------------------

int32_t SimDevice::SetImageSize(int32_t width, int32_t height) {
  std::lock_guard lock(mutex_);
  if (width < kMinImageSize || height < kMinImageSize || width > profile_.max_width ||
      height > profile_.max_height) {
    return IS_INVALID_PARAMETER;
  }
  if (active_ && (width > active_->width || height > active_->height)) return IS_INVALID_PARAMETER;
  width_ = width;
  height_ = height;
  UpdateTiming();
  return IS_SUCCESS;
}

int32_t SimDevice::SetImagePos(int32_t x, int32_t y) {
  std::lock_guard lock(mutex_);
  if (std::abs(x) > profile_.max_width || std::abs(y) > profile_.max_height) return IS_INVALID_PARAMETER;
  pos_x_ = x;
  pos_y_ = y;
  return IS_SUCCESS;
}

int32_t SimDevice::SetColorMode(int32_t mode) {
  const int32_t bits = BitsOfColourMode(mode);
  std::lock_guard lock(mutex_);
  if (bits == 0 || (active_ && bits > active_->bits)) return IS_INVALID_PARAMETER;
  colour_mode_ = mode;
  return IS_SUCCESS;
}

int32_t SimDevice::ColorDepth(int32_t* bits, int32_t* mode) const {
  if (bits == nullptr || mode == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  *bits = BitsOfColourMode(colour_mode_);
  *mode = colour_mode_;
  return IS_SUCCESS;
}

// ---- capture -------------------------------------------------------------

int32_t SimDevice::StartLive() {
  {
    std::lock_guard lock(mutex_);
    if (!active_) return IS_NO_SUCCESS;
    if (!live_) next_live_ = Clock::now();
    live_ = true;
  }
  wake_.notify_all();
  return IS_SUCCESS;
}

int32_t SimDevice::StopLive() {
  std::lock_guard lock(mutex_);
  live_ = false;
  return IS_SUCCESS;
}

int32_t SimDevice::QueueFrame() {
  {
    std::lock_guard lock(mutex_);
    if (!active_ || pending_.size() >= kMaxPendingTriggers) return IS_NO_SUCCESS;
    // The trigger fixes the moment of exposure, not the render thread.
    pending_.push_back({SceneTimeAt(Clock::now(), scene_speed_)});
  }
  wake_.notify_all();
  return IS_SUCCESS;
}

int32_t SimDevice::Freeze(int32_t wait) {
  uint32_t target = 0;
  {
    std::lock_guard lock(mutex_);
    target = frames_rendered_ + static_cast<uint32_t>(pending_.size()) + 1;
  }
  const int32_t result = QueueFrame();
  if (result != IS_SUCCESS || wait == 0) return result;
  // Waiting callers get the frame before the call returns (at most a second).
  std::unique_lock lock(mutex_);
  delivered_.wait_for(lock, std::chrono::seconds(1),
                      [&] { return quit_ || static_cast<int32_t>(frames_rendered_ - target) >= 0; });
  return IS_SUCCESS;
}

int32_t SimDevice::ForceTrigger() {
  {
    std::lock_guard lock(mutex_);
    if (trigger_mode_ == IS_SET_TRIGGER_OFF) return IS_NO_SUCCESS;
  }
  return QueueFrame();
}

int32_t SimDevice::SetTriggerMode(int32_t mode) {
  if (mode != IS_SET_TRIGGER_OFF && mode != IS_SET_TRIGGER_SOFTWARE) return IS_INVALID_PARAMETER;
  {
    std::lock_guard lock(mutex_);
    trigger_mode_ = mode;
    next_live_ = Clock::now();
  }
  wake_.notify_all();
  return IS_SUCCESS;
}

int32_t SimDevice::InitEvent(int32_t fd, int32_t which) {
  if (which != profile_.event_id || fd < 0) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  event_fd_ = fd;
  return IS_SUCCESS;
}

int32_t SimDevice::EnableEvent(int32_t which) {
  if (which != profile_.event_id) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  if (event_fd_ < 0) return IS_NO_SUCCESS;
  event_enabled_ = true;
  return IS_SUCCESS;
}

int32_t SimDevice::DisableEvent(int32_t which) {
  if (which != profile_.event_id) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  event_enabled_ = false;
  return IS_SUCCESS;
}

// ---- timing --------------------------------------------------------------

void SimDevice::UpdateTiming() {
  if (!profile_.sensor_timing) {
    frame_time_s_ = profile_.video_frame_time_s;
    exposure_ms_ = kVideoExposureMs;
    return;
  }
  const FrameTimeRange range = FrameTimeRangeFor(pixel_clock_mhz_, width_, height_);
  const double previous = frame_time_s_;
  frame_time_s_ = FrameTimeInEffect(range, requested_fps_);
  exposure_ms_ = ExposureInEffect(ExposureRangeFor(range, frame_time_s_), requested_exposure_ms_);
  // A shorter frame time takes effect with the next frame, not after the old one.
  if (frame_time_s_ < previous) next_live_ = std::min(next_live_, Clock::now() + Seconds(frame_time_s_));
}

int32_t SimDevice::SetFrameRate(double fps, double* in_effect) {
  if (in_effect == nullptr || std::isnan(fps)) return IS_INVALID_PARAMETER;
  {
    std::lock_guard lock(mutex_);
    if (profile_.sensor_timing) requested_fps_ = fps;
    UpdateTiming();
    *in_effect = 1.0 / frame_time_s_;
  }
  wake_.notify_all();
  return IS_SUCCESS;
}

int32_t SimDevice::FrameTimes(double* shortest, double* longest, double* step) const {
  if (shortest == nullptr || longest == nullptr || step == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  const FrameTimeRange range = FrameTimeRangeFor(pixel_clock_mhz_, width_, height_);
  *shortest = range.shortest_s;
  *longest = range.longest_s;
  *step = range.step_s;
  return IS_SUCCESS;
}

int32_t SimDevice::SetExposure(double ms, double* in_effect) {
  if (in_effect == nullptr || std::isnan(ms)) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  requested_exposure_ms_ = ms;
  UpdateTiming();
  *in_effect = exposure_ms_;
  return IS_SUCCESS;
}

int32_t SimDevice::ExposureLimits(double* min, double* max, double* step) const {
  if (min == nullptr || max == nullptr || step == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  const ExposureRange range =
      ExposureRangeFor(FrameTimeRangeFor(pixel_clock_mhz_, width_, height_), frame_time_s_);
  *min = range.min_ms;
  *max = range.max_ms;
  *step = range.step_ms;
  return IS_SUCCESS;
}

int32_t SimDevice::SetPixelClock(int32_t mhz) {
  if (mhz < kPixelClockMinMHz || mhz > kPixelClockMaxMHz) return IS_INVALID_PARAMETER;
  {
    std::lock_guard lock(mutex_);
    pixel_clock_mhz_ = mhz;
    UpdateTiming();
  }
  wake_.notify_all();
  return IS_SUCCESS;
}

int32_t SimDevice::PixelClockLimits(int32_t* min, int32_t* max) const {
  if (min == nullptr || max == nullptr) return IS_INVALID_PARAMETER;
  *min = kPixelClockMinMHz;
  *max = kPixelClockMaxMHz;
  return IS_SUCCESS;
}

// ---- picture controls ----------------------------------------------------

int32_t SimDevice::SetBrightness(int32_t value) {
  if (value < 0 || value > 255) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  brightness_ = value;
  return IS_SUCCESS;
}

int32_t SimDevice::SetContrast(int32_t value) {
  if (value < 0 || value > 511) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  contrast_ = value;
  return IS_SUCCESS;
}

int32_t SimDevice::SetSaturation(int32_t value) {
  if (value < 0 || value > 200) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  saturation_ = value;
  return IS_SUCCESS;
}

int32_t SimDevice::SetScaler(float sx, float sy) {
  if (!(sx >= 0.0f && sx <= 16.0f) || !(sy >= 0.0f && sy <= 16.0f)) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  scaler_x_ = sx;
  scaler_y_ = sy;
  return IS_SUCCESS;
}

int32_t SimDevice::SetVideoInput(int32_t input) {
  if (input < 0 || input > 3) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  video_input_ = input;
  return IS_SUCCESS;
}

int32_t SimDevice::FrameCounts(int32_t* rendered, int32_t* delivered) const {
  if (rendered == nullptr || delivered == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  *rendered = static_cast<int32_t>(frames_rendered_ & 0x7fffffff);
  *delivered = static_cast<int32_t>(frames_delivered_ & 0x7fffffff);
  return IS_SUCCESS;
}

// ---- render thread -------------------------------------------------------

bool SimDevice::NextFrame(std::unique_lock<std::mutex>& lock, PendingFrame& frame) {
  if (!pending_.empty()) {
    frame = pending_.front();
    pending_.pop_front();
    return true;
  }
  if (!live_ || trigger_mode_ != IS_SET_TRIGGER_OFF) {
    wake_.wait(lock);
    return false;
  }
  const Clock::time_point now = Clock::now();
  if (now < next_live_) {
    wake_.wait_until(lock, next_live_);
    return false;
  }
  frame.scene_time_s = SceneTimeAt(next_live_, scene_speed_);
  next_live_ += Seconds(frame_time_s_);
  // A sensor that fell behind drops frames instead of bunching them up.
  if (next_live_ < now) next_live_ = now + Seconds(frame_time_s_);
  return true;
}

bool SimDevice::MakeRequest(const PendingFrame& frame, FrameRequest& request,
                            std::shared_ptr<ImageMemory>& target) const {
  if (!active_) return false;
  const int32_t bits = BitsOfColourMode(colour_mode_);
  if (width_ > active_->width || height_ > active_->height || width_ * (bits / 8) > active_->pitch)
    return false;
  target = active_;
  request.pixels = active_->bytes.get();
  request.pitch = active_->pitch;
  request.width = width_;
  request.height = height_;
  request.colour_mode = colour_mode_;
  request.scene_time_s = frame.scene_time_s;
  request.exposure_ms = exposure_ms_;
  request.brightness = brightness_;
  request.contrast = contrast_;
  request.camera = ModelForImage(geometry_, width_, height_);
  request.camera.cx -= pos_x_;
  request.camera.cy -= pos_y_;
  return true;
}

void SimDevice::RenderLoop() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    PendingFrame frame{};
    if (!NextFrame(lock, frame)) continue;
    if (Gone()) {
      // Nothing more comes from a camera that is gone; only closing wakes it.
      wake_.wait(lock, [this] { return quit_; });
      continue;
    }
    FrameRequest request;
    std::shared_ptr<ImageMemory> target;
    if (!MakeRequest(frame, request, target)) continue;
    lock.unlock();
    renderer_->Render(request);
    target.reset();
    lock.lock();
    ++frames_rendered_;
    // Signalled under the lock, so no frame is announced after DisableEvent returns.
    if (event_enabled_ && event_fd_ >= 0) {
      const uint64_t one = 1;
      if (::write(event_fd_, &one, sizeof one) == sizeof one) ++frames_delivered_;
    }
    delivered_.notify_all();
  }
}

}  // namespace sim
