#include "tests/drivers/camera_session.h"

#include <gtest/gtest.h>

namespace driver_test {

CameraSession::CameraSession(DriverLibrary& library, uint32_t camera_id, Format format, bool board)
    : library_(library), format_(format), board_(board), handle_(camera_id) {
  const int32_t opened = board ? DRIVER(library, is_InitBoard)(&handle_, nullptr)
                               : DRIVER(library, is_InitCamera)(&handle_, nullptr);
  if (opened != IS_SUCCESS) throw std::runtime_error("device does not open: " + std::to_string(opened));
  EXPECT_EQ(DRIVER(library, is_AllocImageMem)(handle_, format.width, format.height, format.bits, &memory_,
                                              &memory_id_),
            IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetImageMem)(handle_, memory_, memory_id_), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetImageSize)(handle_, format.width, format.height), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetColorMode)(handle_, format.colour_mode), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_SetDisplayMode)(handle_, IS_SET_DM_DIB), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_GetImageMemPitch)(handle_, &pitch_), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_InitEvent)(handle_, events_.fd(), event_id()), IS_SUCCESS);
  EXPECT_EQ(DRIVER(library, is_EnableEvent)(handle_, event_id()), IS_SUCCESS);
}

CameraSession::~CameraSession() {
  if (board_) {
    DRIVER(library_, is_ExitBoard)(handle_);
  } else {
    DRIVER(library_, is_ExitCamera)(handle_);
  }
}

bool CameraSession::Snap() {
  events_.Take();
  if (DRIVER(library_, is_FreezeVideo)(handle_, 0) != IS_SUCCESS) return false;
  return events_.WaitFor(1, std::chrono::seconds(5)) == 1;
}

}  // namespace driver_test
