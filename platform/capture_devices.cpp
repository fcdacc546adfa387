#include "capture_devices.h"

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string_view>
#include <utility>

#include "capture_source.h"

namespace platform {
namespace {

// One source of the list and what makes its element.
struct ListedSource {
  std::string name;
  std::string description;      // empty for a monitor device
  GstDevice* device = nullptr;  // owned reference, monitor devices only
  StereoLayout layout = StereoLayout::kNone;
};

constexpr std::pair<const char*, StereoLayout> kLayoutWords[] = {{"side-by-side:", StereoLayout::kSideBySide},
                                                                 {"top-bottom:", StereoLayout::kTopBottom}};

class SourceList {
 public:
  SourceList() {
    AppendMonitorDevices();
    AppendListedSources();
  }
  ~SourceList() {
    for (const ListedSource& source : sources_)
      if (source.device != nullptr) gst_object_unref(source.device);
  }
  SourceList(const SourceList&) = delete;
  SourceList& operator=(const SourceList&) = delete;

  const std::vector<ListedSource>& Sources() const { return sources_; }

  static GstElement* MakeElement(const ListedSource& source) {
    if (source.device != nullptr) return gst_device_create_element(source.device, nullptr);
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(source.description.c_str(), TRUE, &error);
    // A recoverable error still gives a bin, but only part of the line:
    // it is refused as a line that does not parse at all is.
    if (error != nullptr) {
      g_error_free(error);
      if (bin != nullptr) gst_object_unref(bin);
      return nullptr;
    }
    return bin;
  }

 private:
  void AppendMonitorDevices() {
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GList* found = gst_device_monitor_get_devices(monitor);
    for (GList* item = found; item != nullptr; item = item->next) {
      auto* device = GST_DEVICE(item->data);
      gchar* name = gst_device_get_display_name(device);
      sources_.push_back(
          {name != nullptr ? name : "", {}, GST_DEVICE(gst_object_ref(device)), StereoLayout::kNone});
      g_free(name);
    }
    g_list_free_full(found, gst_object_unref);
    gst_object_unref(monitor);
  }

  void AppendListedSources() {
    const char* listed = std::getenv("STEREO_CAPTURE_SOURCES");
    if (listed == nullptr) return;
    for (const std::string& line : SplitSourceList(listed)) {
      const ListedLine read = ReadListedLine(line);
      sources_.push_back({line, read.description, nullptr, read.layout});
    }
  }

  std::vector<ListedSource> sources_;
};

bool CanMake(GstElement* element) {
  if (element == nullptr) return false;
  gst_object_unref(gst_object_ref_sink(element));
  return true;
}

class GStreamerCaptureDevices : public CaptureDeviceSource {
 public:
  std::vector<CaptureDevice> Devices() override {
    std::vector<CaptureDevice> devices;
    if (!InitGStreamer()) return devices;
    const SourceList list;
    for (const ListedSource& source : list.Sources())
      devices.push_back(
          {source.name, source.description, CanMake(SourceList::MakeElement(source)), source.layout});
    return devices;
  }
};

}  // namespace

bool InitGStreamer() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr) != FALSE; });
  return ready;
}

GstElement* MakeCaptureSource(std::size_t index) {
  if (!InitGStreamer()) return nullptr;
  const SourceList list;
  if (index >= list.Sources().size()) return nullptr;
  return SourceList::MakeElement(list.Sources()[index]);
}

std::vector<std::string> SplitSourceList(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    const auto last = line.find_last_not_of(" \t\r");
    lines.push_back(line.substr(first, last - first + 1));
  }
  return lines;
}

ListedLine ReadListedLine(const std::string& line) {
  for (const auto& [word, layout] : kLayoutWords) {
    const std::string_view prefix(word);
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    const auto first = line.find_first_not_of(" \t", prefix.size());
    return {layout, first == std::string::npos ? std::string() : line.substr(first)};
  }
  return {StereoLayout::kNone, line};
}

std::unique_ptr<CaptureDeviceSource> SystemCaptureDevices() {
  return std::make_unique<GStreamerCaptureDevices>();
}

}  // namespace platform
