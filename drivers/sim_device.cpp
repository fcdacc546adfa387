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

// The frame's number in the first bytes of a row (little-endian), stamped
// into the first and the last row once the frame is drawn: a reader that
// sees them differ holds a torn image.
void StampRow(const FrameRequest& request, int32_t row, uint32_t stamp) {
  uint8_t* bytes = request.pixels + static_cast<ptrdiff_t>(row) * request.pitch;
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(stamp >> (8 * i));
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
      stamp_frames_(config.stamp_frames),
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
  const auto in_sequence =
      std::find_if(sequence_.begin(), sequence_.end(), [id](const auto& block) { return block->id == id; });
  if (in_sequence != sequence_.end()) {
    sequence_.erase(in_sequence);
    last_filled_ = -1;
  }
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
    const uint32_t stamp = ++mode_frames_;
    if (!active_ || pending_.size() >= kMaxPendingTriggers) return IS_NO_SUCCESS;
    // The trigger fixes the moment of exposure, not the render thread.
    const Clock::time_point now = Clock::now();
    pending_.push_back({SceneTimeAt(now, scene_speed_), now, stamp});
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
    if (trigger_mode_ != mode) mode_frames_ = 0;
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

// ---- sequence of image memories -------------------------------------------

int32_t SimDevice::AddToSequence(const char* memory, int32_t id) {
  std::lock_guard lock(mutex_);
  auto block = FindMemory(memory, id);
  if (!block) return IS_INVALID_PARAMETER;
  if (std::find(sequence_.begin(), sequence_.end(), block) != sequence_.end()) return IS_INVALID_PARAMETER;
  sequence_.push_back(std::move(block));
  return IS_SUCCESS;
}

int32_t SimDevice::ClearSequence() {
  std::lock_guard lock(mutex_);
  for (const auto& block : sequence_) block->locked = false;
  sequence_.clear();
  last_filled_ = -1;
  return IS_SUCCESS;
}

int32_t SimDevice::ActiveSequenceMemory(int32_t* number, char** filling, char** last) const {
  if (number == nullptr || filling == nullptr || last == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  if (sequence_.empty()) return IS_NO_SUCCESS;
  const auto pixels = [](const ImageMemory& block) { return reinterpret_cast<char*>(block.bytes.get()); };
  *number = 0;
  *filling = nullptr;
  for (size_t i = 0; i < sequence_.size(); ++i) {
    if (!sequence_[i]->filling) continue;
    *number = static_cast<int32_t>(i) + 1;
    *filling = pixels(*sequence_[i]);
  }
  *last = last_filled_ >= 0 ? pixels(*sequence_[static_cast<size_t>(last_filled_)]) : nullptr;
  return IS_SUCCESS;
}

std::shared_ptr<ImageMemory> SimDevice::FindSequenceMemory(int32_t number, const char* memory) const {
  for (size_t i = 0; i < sequence_.size(); ++i) {
    const bool numbered = number == IS_IGNORE_PARAMETER || number == static_cast<int32_t>(i) + 1;
    if (numbered && reinterpret_cast<const char*>(sequence_[i]->bytes.get()) == memory) return sequence_[i];
  }
  return nullptr;
}

int32_t SimDevice::LockSequenceMemory(int32_t number, const char* memory, bool lock_it) {
  std::lock_guard lock(mutex_);
  const auto block = FindSequenceMemory(number, memory);
  if (!block) return IS_INVALID_PARAMETER;
  // The memory being filled now cannot be taken from the sensor half-way.
  if (lock_it && block->filling) return IS_NO_SUCCESS;
  block->locked = lock_it;
  return IS_SUCCESS;
}

int32_t SimDevice::ImageInfo(int32_t id, UEYEIMAGEINFO* info, int32_t size) const {
  if (info == nullptr || size != static_cast<int32_t>(sizeof(UEYEIMAGEINFO))) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  const auto found = memories_.find(id);
  if (found == memories_.end()) return IS_INVALID_PARAMETER;
  *info = found->second->info;
  return IS_SUCCESS;
}

int32_t SimDevice::FramesDropped(int32_t* count) const {
  if (count == nullptr) return IS_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  *count = static_cast<int32_t>(frames_dropped_ & 0x7fffffff);
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
  frame.exposed = next_live_;
  frame.stamp = ++mode_frames_;
  next_live_ += Seconds(frame_time_s_);
  // A sensor that fell behind drops frames instead of bunching them up.
  if (next_live_ < now) next_live_ = now + Seconds(frame_time_s_);
  return true;
}

std::shared_ptr<ImageMemory> SimDevice::NextTarget() {
  if (sequence_.empty()) return active_;
  const size_t count = sequence_.size();
  for (size_t step = 1; step <= count; ++step) {
    const size_t index = (static_cast<size_t>(last_filled_ + 1) + step - 1) % count;
    if (!sequence_[index]->locked) return sequence_[index];
  }
  return nullptr;
}

bool SimDevice::MakeRequest(const PendingFrame& frame, FrameRequest& request,
                            std::shared_ptr<ImageMemory>& target) {
  if (!active_ && sequence_.empty()) return false;
  target = NextTarget();
  if (!target) {
    // Every memory of the sequence is locked: the frame is lost, as on the sensor.
    ++frames_dropped_;
    return false;
  }
  const int32_t bits = BitsOfColourMode(colour_mode_);
  if (width_ > target->width || height_ > target->height || width_ * (bits / 8) > target->pitch) {
    target.reset();
    return false;
  }
  request.pixels = target->bytes.get();
  request.pitch = target->pitch;
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

void SimDevice::FinishFrame(ImageMemory& target, const PendingFrame& frame) {
  target.filling = false;
  const auto since_boot =
      std::chrono::duration_cast<std::chrono::nanoseconds>(frame.exposed.time_since_epoch());
  target.info.u64TimestampDevice = static_cast<uint64_t>(since_boot.count() / 100);
  target.info.u64FrameNumber = frame_number_;
  for (size_t i = 0; i < sequence_.size(); ++i) {
    if (sequence_[i].get() == &target) last_filled_ = static_cast<int>(i);
  }
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
    ++frame_number_;
    if (!MakeRequest(frame, request, target)) continue;
    target->filling = true;
    target->info = UEYEIMAGEINFO{};
    lock.unlock();
    renderer_->Render(request);
    if (stamp_frames_) {
      StampRow(request, 0, frame.stamp);
      StampRow(request, request.height - 1, frame.stamp);
    }
    lock.lock();
    FinishFrame(*target, frame);
    target.reset();
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
