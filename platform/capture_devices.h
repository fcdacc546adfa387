#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// How one frame of a stereo camera that is a single device holds both eyes:
// left and right halves, or the left eye above the right.
enum class StereoLayout { kNone, kSideBySide, kTopBottom };

// One system video source, in the order the system lists them.
struct CaptureDevice {
  std::string friendly_name;
  // The GStreamer description of its source element; empty for a device the
  // monitor found (it is made through the monitor's own device object).
  std::string source_description;
  // False when the source element cannot be made: such a device is listed but
  // never offered, and keeps its place in the numbering.
  bool openable = false;
  // Set for a STEREO_CAPTURE_SOURCES line that begins with "side-by-side:"
  // or "top-bottom:"; the description is the rest of the line.
  StereoLayout layout = StereoLayout::kNone;
};

// The system's capture devices. A fake stands in for it in tests.
class CaptureDeviceSource {
 public:
  virtual ~CaptureDeviceSource() = default;
  virtual std::vector<CaptureDevice> Devices() = 0;
};

// Video sources of the GStreamer device monitor (class "Video/Source"), then
// the sources listed one per line in STEREO_CAPTURE_SOURCES.
std::unique_ptr<CaptureDeviceSource> SystemCaptureDevices();

// The non-empty lines of a STEREO_CAPTURE_SOURCES value.
std::vector<std::string> SplitSourceList(const std::string& text);

// A listed line's stereo layout, and its GStreamer description without the
// layout's word.
struct ListedLine {
  StereoLayout layout = StereoLayout::kNone;
  std::string description;
};
ListedLine ReadListedLine(const std::string& line);

}  // namespace platform
