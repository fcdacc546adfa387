#pragma once

// Frame sources: the device base with its capture thread, and the enumeration
// of every source that can be opened.
//
// Frames and buffers. A source keeps its complete frames in a store of its
// own (Frames): a camera or the frame grabber in a ring of driver image
// memories registered as the driver's sequence, a system capture device in a
// ring of copies made on its streaming thread. The window never reads memory
// a driver may be writing: it picks a complete frame by its stamp (frame
// number and time of exposure), holds it, which locks that memory so the
// driver skips it, and reads only the held frame until it holds the next one.
// A capture thread that records reads the newest frame under its own lock.
// With every memory locked the driver drops the frame and counts it. Image
// stays the header that describes the format; its pixels are the driver's.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Video/vidclass/frame_store.h"
#include "Video/vidclass/ipl.h"
#include "platform/capture_devices.h"
#include "platform/frame_event.h"
#include "platform/window_handle.h"

// Device ids kept beside each entry of the source lists.
inline constexpr int32_t kCaptureDeviceIdBase = 1000;
inline constexpr int32_t kFalconDeviceId = 2000;
inline constexpr int32_t kUEyeDeviceIdBase = 3000;
// A stereo camera whose frame holds both eyes: 5000 + capture-device index
// for eyes side by side, 5500 + index for the left eye above the right.
inline constexpr int32_t kSideBySideDeviceIdBase = 5000;
inline constexpr int32_t kTopBottomDeviceIdBase = 5500;
// 4000 + the camera's place in the Aravis listing.
inline constexpr int32_t kGenICamDeviceIdBase = 4000;

// Frame-ready messages of the first and the second source.
inline constexpr uint32_t kFirstSourceMessage = 2024;
inline constexpr uint32_t kSecondSourceMessage = 2025;

// The capture thread waits this long for a frame before it looks at its
// terminate flag again.
inline constexpr int kFrameWaitTimeoutMs = 1000;

struct ValueRange {
  double Minimum = 0.0;
  double Maximum = 0.0;
  double Increment = 0.0;
};

class tVideoDevice;

// The first failing driver result of an operation made of several calls, or
// 0: a later call that succeeds must not hide an earlier failure.
inline int32_t FirstFailure(std::initializer_list<int32_t> results) {
  for (const int32_t result : results) {
    if (result != 0) return result;
  }
  return 0;
}

// The log line a capture thread posts when its waits begin to fail.
std::string WaitFailureLine(uint32_t message);

// One capture thread per device: waits for the device's frames and announces
// each one. The thread never waits for the user-interface thread.
class TVideoThread {
 public:
  enum class Start { Running, Suspended };

  // Devices make theirs through tVideoDevice::CreateThread, which lets it
  // run only once the device holds it.
  TVideoThread(tVideoDevice* device, Start start);
  ~TVideoThread();  // ends the thread
  TVideoThread(const TVideoThread&) = delete;
  TVideoThread& operator=(const TVideoThread&) = delete;

  // Lets a thread created suspended run; does nothing once running or ended.
  void Release();
  // Sets the terminate flag, wakes the wait and joins. A frame that arrived
  // just before is not announced. Safe to call more than once.
  void Terminate();

  tVideoDevice* const Device;
  // Each device has its own event: a frame of one camera never wakes the
  // capture thread of another.
  platform::FrameEvent FrameEvent;

 private:
  void Run();
  // Sleeps after a failed wait; Terminate cuts it short.
  void RestAfterFailure(std::chrono::milliseconds rest);

  std::atomic<bool> terminate_{false};
  std::mutex rest_mutex_;
  std::condition_variable rest_;
  bool ended_ = false;
  std::thread thread_;
};

class tVideoDevice {
 public:
  using Callback = void (*)();

  tVideoDevice() = default;
  virtual ~tVideoDevice();
  tVideoDevice(const tVideoDevice&) = delete;
  tVideoDevice& operator=(const tVideoDevice&) = delete;

  virtual void SetTriggerMode(bool on);
  virtual void SetFrameRate(double fps);
  virtual void SetExposure(double ms);
  virtual void GetExposureRange(ValueRange& range);
  // Null when the device offers no modes.
  virtual std::vector<std::string>* GetModeList();
  virtual void GetFrameRateRange(ValueRange& range);
  virtual void SetBrightness(double value);
  virtual void SetContrast(double value);
  // The third slider on kinds without a pixel clock: the sensor's gain as a
  // share (0 to 1) of its range; kept as given where the kind has none.
  virtual void SetGain(double share) { Gain = share; }
  virtual void SetSpareValue(double value);
  virtual void Init(uint32_t messageNumber);
  virtual void Start();
  virtual void Stop();
  virtual void Trigger();
  // Trigger, numbered by the window: the frame it exposes carries the number
  // (0: not numbered, as in live capture). Any thread.
  void TriggerNumbered(uint64_t number);
  // True for kinds whose every trigger exposes one frame, in turn.
  virtual bool AnswersTriggers() const { return false; }
  // Waits on the thread's frame event for at most kFrameWaitTimeoutMs.
  virtual platform::WaitResult WaitForFrame();
  // Stamps the frame with its time of arrival, calls FrameCallback, then
  // posts MessageNumber to WindowHandle (0: posts nothing). Runs on the
  // capture thread.
  virtual void FrameReady();
  virtual void SetImagePos(int32_t x, int32_t y);

  // The complete frames the source holds, newest first. Without a store the
  // one frame is Image, with an unknown stamp.
  FrameList CompleteFrames();
  // Holds that frame whole until the next hold or release; null when it was
  // refilled meanwhile. User-interface thread.
  IplImage* HoldFrame(const FrameSlot& slot);
  // Keeps that frame from being refilled until UnpinFrame, without holding
  // it; false when it was refilled meanwhile.
  bool PinFrame(const FrameSlot& slot);
  void UnpinFrame(const FrameSlot& slot);
  // The newest complete frame that could be held, and its stamp when asked
  // for (the newest listed may be refilled before its lock, and an older one
  // held instead); null when there is none.
  IplImage* HoldNewestFrame(FrameStamp* stamp = nullptr);
  // The frame held now; null when none.
  IplImage* HeldFrame();
  // The frame held now, else the newest one, held.
  IplImage* HeldOrNewestFrame();
  void ReleaseFrame();
  // Runs read over the newest complete frame while no driver writes it;
  // false when there is none. Any thread.
  bool ReadNewestFrame(const FrameReader& read);

  uint32_t Handle = 0;
  platform::WindowHandle WindowHandle = nullptr;
  char* ImageMemory = nullptr;
  bool TriggerMode = false;
  std::unique_ptr<TVideoThread> Thread;
  double FrameRate = 0.0;
  double Exposure = 0.0;
  double Brightness = 0.0;
  double Contrast = 0.0;
  double Gain = 0.0;
  double SpareValue = 0.0;
  // Written by Trigger, which the trigger timer calls from its own thread.
  std::atomic<int32_t> LastResult{0};
  IplImage* Image = nullptr;
  int32_t State = -1;
  // Read by the capture thread.
  std::atomic<uint32_t> MessageNumber{0};
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Channels = 0;
  std::vector<std::string> Inputs;
  std::vector<std::string> Log;
  // Set by the user-interface thread, called on the capture thread.
  std::atomic<Callback> FrameCallback{nullptr};
  // Where the complete frames are kept; null for a source whose Image is
  // its one frame (a still image).
  std::unique_ptr<FrameStore> Frames;
  // Numbered triggers sent and not yet answered by a frame.
  TriggerLedger Triggers;

 protected:
  // Creates the capture thread bound to this device. Kinds call it from their
  // constructor once everything the thread reads is in place.
  void CreateThread(TVideoThread::Start start);
  // Ends the capture thread. Every kind calls it in its own destructor, so the
  // thread never runs a virtual of a part that is already destroyed.
  void EndThread();
  // Event descriptor handed to the driver; -1 without a thread.
  int32_t FrameEventFd() const;
};

// One entry of the source lists: display text and device id.
struct DeviceEntry {
  std::string Text;
  int32_t Id = 0;
};

// The discovery side of the driver libraries; null entries / false stand for a
// library that is not loaded.
struct DriverDiscovery {
  int32_t (*GetNumberOfCameras)(int32_t* count) = nullptr;
  int32_t (*GetCameraList)(void* record) = nullptr;
  bool FalconLoaded = false;
};

// Discovery through the driver libraries as they are loaded now.
DriverDiscovery LoadedDriverDiscovery();

class tVideoDevEnum {
 public:
  // Null: the system's capture devices. Drivers are asked as loaded at the
  // time Enumerate runs.
  explicit tVideoDevEnum(platform::CaptureDeviceSource* captureDevices = nullptr);
  tVideoDevEnum(platform::CaptureDeviceSource* captureDevices, const DriverDiscovery& drivers);
  ~tVideoDevEnum();

  // Rebuilds Devices: capture devices, uEye cameras, the Falcon board, then
  // GenICam cameras (those only with the drivers as loaded).
  // Returns the number of capture devices and cameras found (the board is
  // listed but not counted).
  int32_t Enumerate();

  std::vector<DeviceEntry> Devices;

 private:
  int32_t AddCaptureDevices();
  int32_t AddUEyeCameras(const DriverDiscovery& drivers);

  std::unique_ptr<platform::CaptureDeviceSource> ownedSource_;
  platform::CaptureDeviceSource* captureDevices_;
  bool fixedDrivers_ = false;
  DriverDiscovery drivers_;
};
