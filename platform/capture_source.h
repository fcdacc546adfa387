#pragma once

// The GStreamer side of the capture-device list, shared by the list and the
// capture pipeline so both number the sources alike.

#include <gst/gst.h>

#include <cstddef>

namespace platform {

// Initialises GStreamer once; false when it cannot run here.
bool InitGStreamer();

// A new, floating source element for the source at `index` of the list
// (device monitor first, then STEREO_CAPTURE_SOURCES); null when there is no
// such source now or its element cannot be made.
GstElement* MakeCaptureSource(std::size_t index);

}  // namespace platform
