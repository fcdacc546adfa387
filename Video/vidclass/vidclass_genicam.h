#pragma once

// A GenICam camera (GigE Vision or USB3 Vision) through Aravis: the camera's
// own region and pixel format, its stream's buffers converted once into the
// device's frames (mono as grey, Bayer and RGB as colour), and the sliders
// on the camera's own features.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Video/vidclass/vidclass.h"

typedef struct _ArvCamera ArvCamera;
typedef struct _ArvStream ArvStream;
typedef struct _ArvBuffer ArvBuffer;
typedef struct _GError GError;

// How the camera's pixels become the device's frames.
struct GenICamPixels {
  int32_t Channels = 0;  // 1 grey, 3 colour; 0: not supported
  int32_t BytesPerPixel = 0;
  int Conversion = -1;  // OpenCV colour conversion; -1: copied as they are
};
// For a pixel format code of the GenICam standard names (PFNC).
GenICamPixels GenICamPixelsOf(uint32_t pixel_format);

class tVideoDeviceGenICam : public tVideoDevice {
 public:
  // Opens the camera at that place of the Aravis listing. State stays -1,
  // with the library's error in LastResult and Log, when it does not open.
  tVideoDeviceGenICam(int32_t index, platform::WindowHandle window);
  ~tVideoDeviceGenICam() override;

  // In trigger mode the camera takes each frame on a trigger from
  // TriggerSource; acquisition is restarted around the change.
  void SetTriggerMode(bool on) override;
  // Frame rate and exposure are clamped to the camera's bounds; the values
  // in effect are read back.
  void SetFrameRate(double fps) override;
  void SetExposure(double ms) override;
  void GetExposureRange(ValueRange& range) override;
  void GetFrameRateRange(ValueRange& range) override;
  // Brightness drives BlackLevel and contrast Gamma, 0 to 1 across the
  // feature's bounds; a camera without the feature only keeps the value.
  void SetBrightness(double value) override;
  void SetContrast(double value) override;
  // Takes the camera's region and pixel format as the frame format, makes
  // the stream and its buffers.
  void Init(uint32_t messageNumber) override;
  void Start() override;
  void Stop() override;
  // A software trigger; nothing when a line triggers the camera.
  void Trigger() override;
  bool AnswersTriggers() const override { return numbers_triggers_; }

  // Gain (or the camera's closest feature), 0 to 1 across its bounds.
  void SetGain(double share) override;

  // Where frames come from in trigger mode: "Software" (Trigger, from the
  // trigger timer) or one of the camera's lines ("Line0", ...). Set before
  // trigger mode is switched on.
  std::string TriggerSource = "Software";

  // Frames not kept because every frame was held, and buffers the camera
  // did not complete.
  uint64_t DroppedFrames() const { return dropped_; }
  uint64_t IncompleteBuffers() const { return incomplete_; }

 private:
  // How a slider's feature is found, bounded and set.
  struct FeatureCalls {
    const char* Name;
    int (*Available)(ArvCamera*, GError**);
    void (*Bounds)(ArvCamera*, double*, double*, GError**);
    void (*Set)(ArvCamera*, double, GError**);
  };
  // A feature a slider drives across its bounds; no calls when the camera
  // has none.
  struct Feature {
    const FeatureCalls* Calls = nullptr;
    double Minimum = 0.0;
    double Maximum = 0.0;
  };
  static const FeatureCalls kGain, kBlackLevel, kGamma;
  // The stream's thread: a buffer is being filled, or is done.
  static void StreamEvent(void* device, int type, ArvBuffer* buffer);
  // Converts a complete buffer into a frame nobody holds, while capture runs.
  void TakeBuffer(ArvBuffer* buffer);
  // Gives the done buffers back to the stream while capture runs, else
  // keeps them aside.
  void Recycle();
  bool FitsFrame(ArvBuffer* buffer) const;
  uint64_t NumberOf(uint64_t frame_id);
  // Records the result; a failure goes to the window's log.
  void Report(const char* what, GError* error);
  void StartAcquisition();
  void StopAcquisition();
  // The feature and its bounds on this camera; camera_mutex_ held.
  Feature Look(const FeatureCalls& calls);
  void SetShare(const Feature& feature, double share);
  void Close();

  ArvCamera* camera_ = nullptr;
  ArvStream* stream_ = nullptr;
  GenICamPixels pixels_;
  uint32_t payload_ = 0;
  CopiedFrames* copies_ = nullptr;
  // Calls on the camera come from the window and from the trigger timer.
  std::mutex camera_mutex_;
  std::atomic<bool> running_{false};
  std::atomic<bool> software_triggered_{false};
  // Software triggers are numbered; a line's pulses are not.
  std::atomic<bool> numbers_triggers_{true};
  // Buffers kept out of the stream while capture is stopped.
  std::mutex aside_mutex_;
  std::vector<ArvBuffer*> aside_;
  uint64_t id_offset_ = 0;
  uint64_t last_number_ = 0;
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> incomplete_{0};
  Feature gain_;
  Feature black_level_;
  Feature gamma_;
};
