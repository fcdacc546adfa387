#pragma once

// A uEye USB camera: the driver captures into a ring of its image memories (or
// the one memory where it offers no sequence), and Image is a header over it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Video/vidclass/vidclass.h"

class tVideoDeviceuEye : public tVideoDevice {
 public:
  // Opens the camera with the driver's camera id. State stays -1 when it does
  // not open.
  tVideoDeviceuEye(int32_t cameraId, platform::WindowHandle window);
  ~tVideoDeviceuEye() override;

  void SetTriggerMode(bool on) override;
  void SetFrameRate(double fps) override;
  void SetExposure(double ms) override;
  void GetExposureRange(ValueRange& range) override;
  std::vector<std::string>* GetModeList() override;
  void GetFrameRateRange(ValueRange& range) override;
  void SetBrightness(double value) override;
  void SetContrast(double value) override;
  void Init(uint32_t messageNumber) override;
  void Start() override;
  void Stop() override;
  void Trigger() override;
  // In trigger mode each is_FreezeVideo exposes one frame, in turn.
  bool AnswersTriggers() const override { return true; }
  void SetImagePos(int32_t x, int32_t y) override;
  // Minimum and maximum in MHz; the increment is 0.
  void GetPixelClockRange(ValueRange& range);
  void SetPixelClock(int32_t mhz);

  int32_t MemoryId = 0;
  int32_t ColorMode = 0;
  int32_t BitsPerPixel = 0;
  std::unique_ptr<std::vector<std::string>> ModeList;
  int32_t PixelClock = 0;

 private:
  // Ends capture, the thread and the driver, in the order that keeps the
  // frame callback off freed memory.
  void Close();
};
