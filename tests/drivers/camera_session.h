#pragma once

#include <cstdint>

#include "tests/drivers/driver_library.h"

namespace driver_test {

// One camera (or the board) opened and bound the way the program binds it:
// memory allocated and made active, size and colour mode set, frame event
// registered and enabled. Closes the device when it goes.
class CameraSession {
 public:
  struct Format {
    int32_t width = 640;
    int32_t height = 480;
    int32_t bits = 24;
    int32_t colour_mode = IS_CM_BGR24;
  };

  // Opens camera `camera_id` of the camera library, or the board when
  // `board` is set.
  CameraSession(DriverLibrary& library, uint32_t camera_id, Format format, bool board = false);
  ~CameraSession();
  CameraSession(const CameraSession&) = delete;
  CameraSession& operator=(const CameraSession&) = delete;

  HCAM handle() const { return handle_; }
  int32_t event_id() const { return board_ ? IS_SET_EVENT_BOARD_FRAME : IS_SET_EVENT_FRAME; }
  const uint8_t* pixels() const { return reinterpret_cast<const uint8_t*>(memory_); }
  int32_t pitch() const { return pitch_; }
  const Format& format() const { return format_; }
  EventCounter& events() { return events_; }
  DriverLibrary& library() { return library_; }

  // Triggers one frame and waits for its event; false when none came.
  bool Snap();

 private:
  DriverLibrary& library_;
  Format format_;
  bool board_;
  HCAM handle_ = 0;
  char* memory_ = nullptr;
  int32_t memory_id_ = 0;
  int32_t pitch_ = 0;
  EventCounter events_;
};

}  // namespace driver_test
