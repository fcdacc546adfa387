#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "drivers/sim_config.h"
#include "drivers/sim_driver_api.h"

namespace sim {

class FrameRenderer;
struct FrameRequest;

// What distinguishes a camera from the frame-grabber board.
struct DeviceProfile {
  int32_t event_id;
  int32_t max_width;
  int32_t max_height;
  int32_t default_width;
  int32_t default_height;
  int32_t default_colour_mode;
  // Cameras derive frame time and exposure from pixel clock and image size;
  // the board runs at the fixed video rate of its analogue camera.
  bool sensor_timing;
  double video_frame_time_s;
};

extern const DeviceProfile kCameraProfile;
extern const DeviceProfile kBoardProfile;

// Seconds of scene time at a moment of the library's clock: one clock for every
// device of a library, so cameras triggered together see the same scene.
double SceneTimeAt(std::chrono::steady_clock::time_point when, double speed);
// Puts the scene at the given moment now; it goes on from there at each
// device's scene speed.
void SetSceneTime(double scene_time_s);

struct ImageMemory {
  int32_t id;
  int32_t width;
  int32_t height;
  int32_t bits;
  int32_t pitch;
  std::unique_ptr<uint8_t[]> bytes;
  // Sequence state, kept under the device's lock.
  bool locked = false;
  bool filling = false;
  UEYEIMAGEINFO info{};
};

// One opened camera or board: its settings, the image memories it owns, and
// the render thread that fills the active memory on the device's own clock.
// Every public call may come from any thread; all return a driver code.
class SimDevice {
 public:
  SimDevice(const DeviceProfile& profile, uint32_t camera_id, const SimConfig& config);
  ~SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  int32_t AllocMemory(int32_t width, int32_t height, int32_t bits, char** memory, int32_t* id);
  int32_t SetActiveMemory(const char* memory, int32_t id);
  int32_t FreeMemory(const char* memory, int32_t id);
  int32_t ActiveMemory(void** memory) const;
  int32_t ActivePitch(int32_t* pitch) const;

  int32_t SetImageSize(int32_t width, int32_t height);
  int32_t SetImagePos(int32_t x, int32_t y);
  int32_t SetColorMode(int32_t mode);
  int32_t ColorDepth(int32_t* bits, int32_t* mode) const;

  int32_t StartLive();
  int32_t StopLive();
  int32_t Freeze(int32_t wait);
  int32_t ForceTrigger();
  int32_t SetTriggerMode(int32_t mode);

  int32_t InitEvent(int32_t fd, int32_t which);
  int32_t EnableEvent(int32_t which);
  int32_t DisableEvent(int32_t which);

  int32_t SetFrameRate(double fps, double* in_effect);
  int32_t FrameTimes(double* shortest, double* longest, double* step) const;
  int32_t SetExposure(double ms, double* in_effect);
  int32_t ExposureLimits(double* min, double* max, double* step) const;
  int32_t SetPixelClock(int32_t mhz);
  int32_t PixelClockLimits(int32_t* min, int32_t* max) const;

  int32_t SetBrightness(int32_t value);
  int32_t SetContrast(int32_t value);
  int32_t SetSaturation(int32_t value);
  int32_t SetScaler(float sx, float sy);
  int32_t SetVideoInput(int32_t input);
  int32_t FrameCounts(int32_t* rendered, int32_t* delivered) const;

  int32_t AddToSequence(const char* memory, int32_t id);
  int32_t ClearSequence();
  int32_t ActiveSequenceMemory(int32_t* number, char** filling, char** last) const;
  int32_t LockSequenceMemory(int32_t number, const char* memory, bool lock);
  int32_t ImageInfo(int32_t id, UEYEIMAGEINFO* info, int32_t size) const;
  int32_t FramesDropped(int32_t* count) const;

  // Unplugged (STEREO_SIM_UNPLUG): every call fails and no frame comes.
  [[nodiscard]] bool Gone() const { return unplug_at_ && std::chrono::steady_clock::now() >= *unplug_at_; }

 private:
  using Clock = std::chrono::steady_clock;
  struct PendingFrame {
    double scene_time_s;
    Clock::time_point exposed;
    uint32_t stamp;
  };
  void RenderLoop();
  // Next frame due, or nothing after waiting; called with the lock held.
  bool NextFrame(std::unique_lock<std::mutex>& lock, PendingFrame& frame);
  bool MakeRequest(const PendingFrame& frame, FrameRequest& request, std::shared_ptr<ImageMemory>& target);
  // The memory the next frame goes into: the active one, or the sequence's
  // next unlocked one after the last filled (null when all are locked).
  std::shared_ptr<ImageMemory> NextTarget();
  void FinishFrame(ImageMemory& target, const PendingFrame& frame);
  std::shared_ptr<ImageMemory> FindSequenceMemory(int32_t number, const char* memory) const;
  void UpdateTiming();
  int32_t QueueFrame();
  std::shared_ptr<ImageMemory> FindMemory(const char* memory, int32_t id) const;

  const DeviceProfile profile_;
  const uint32_t camera_id_;
  const CameraGeometry geometry_;
  const double scene_speed_;
  const bool stamp_frames_;
  const std::optional<std::chrono::steady_clock::time_point> unplug_at_;
  std::unique_ptr<FrameRenderer> renderer_;  // used by the render thread only

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable delivered_;
  bool quit_ = false;
  bool live_ = false;
  int32_t trigger_mode_ = IS_SET_TRIGGER_OFF;
  std::deque<PendingFrame> pending_;
  std::chrono::steady_clock::time_point next_live_;

  std::map<int32_t, std::shared_ptr<ImageMemory>> memories_;
  std::shared_ptr<ImageMemory> active_;
  int32_t next_memory_id_ = 1;
  std::vector<std::shared_ptr<ImageMemory>> sequence_;
  // Index in sequence_ of the memory filled last, -1 before the first frame.
  int last_filled_ = -1;
  uint32_t frames_dropped_ = 0;
  uint64_t frame_number_ = 0;
  // Triggers (refused ones too, so cameras triggered together agree), or in
  // live mode frames, since trigger mode last changed.
  uint32_t mode_frames_ = 0;

  int32_t width_;
  int32_t height_;
  int32_t pos_x_ = 0;
  int32_t pos_y_ = 0;
  int32_t colour_mode_;
  int32_t pixel_clock_mhz_ = 40;
  double requested_fps_ = 25.0;
  double requested_exposure_ms_ = 10.0;
  double frame_time_s_ = 0.04;
  double exposure_ms_ = 10.0;
  int32_t brightness_ = 128;
  int32_t contrast_ = 256;
  int32_t saturation_ = 100;
  float scaler_x_ = 1.0f;
  float scaler_y_ = 1.0f;
  int32_t video_input_ = 1;

  int event_fd_ = -1;
  bool event_enabled_ = false;
  uint32_t frames_rendered_ = 0;
  uint32_t frames_delivered_ = 0;

  std::thread thread_;  // last: starts once everything above is set
};

}  // namespace sim
