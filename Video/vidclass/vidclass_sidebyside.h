#pragma once

// One eye of a stereo camera that is a single capture device, its frame
// holding both eyes side by side or one above the other. The two eyes'
// devices share one pipeline: each takes its half of the same sample, with
// the same stamp, so every pair is one moment, and nothing is copied.

#include <cstdint>

#include "Video/vidclass/vidclass_dshow.h"

class tVideoDeviceSideBySide : public tVideoDeviceDShow {
 public:
  // Eye 0 is the left (or upper) half, 1 the right (or lower) one, of the
  // source at this index of the capture-device list.
  tVideoDeviceSideBySide(int32_t deviceIndex, platform::StereoLayout layout, int eye,
                         platform::WindowHandle window);
  // The capture thread ends before this eye is taken apart: it calls the
  // device's own functions until then.
  ~tVideoDeviceSideBySide() override { EndThread(); }
  tVideoDeviceSideBySide(const tVideoDeviceSideBySide&) = delete;
  tVideoDeviceSideBySide& operator=(const tVideoDeviceSideBySide&) = delete;
};
