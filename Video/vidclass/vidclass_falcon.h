#pragma once

// A Falcon frame-grabber board: captures from input 1 into one image memory of
// the driver's, with Image as a header over it. It has no software trigger.

#include <cstdint>

#include "Video/vidclass/vidclass.h"

class tVideoDeviceFalcon : public tVideoDevice {
 public:
  // The board id is ignored: the driver is always asked for its board with a
  // zero handle. State stays -1 when the board does not open.
  tVideoDeviceFalcon(int32_t boardId, platform::WindowHandle window);
  ~tVideoDeviceFalcon() override;

  // Re-registers and enables the frame event, whatever `on` says.
  void SetTriggerMode(bool on) override;
  void SetBrightness(double value) override;
  void Init(uint32_t messageNumber) override;
  void Start() override;
  void Stop() override;

  int32_t MemoryId = 0;
  int32_t ColorMode = 0;
  int32_t BitsPerPixel = 0;

 private:
  // Ends the thread before the board, so the frame callback never reads the
  // memory that closing the board frees.
  void Close();
};
