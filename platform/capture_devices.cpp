#include "capture_devices.h"

#include <gst/gst.h>

#include <cstdlib>
#include <mutex>
#include <sstream>

namespace platform {
namespace {

bool InitGStreamer() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr) != FALSE; });
  return ready;
}

bool CanMake(GstElement* element) {
  if (element == nullptr) return false;
  gst_object_unref(gst_object_ref_sink(element));
  return true;
}

void AppendMonitorDevices(std::vector<CaptureDevice>& devices) {
  GstDeviceMonitor* monitor = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
  GList* found = gst_device_monitor_get_devices(monitor);
  for (GList* item = found; item != nullptr; item = item->next) {
    auto* device = GST_DEVICE(item->data);
    gchar* name = gst_device_get_display_name(device);
    devices.push_back({name != nullptr ? name : "", {}, CanMake(gst_device_create_element(device, nullptr))});
    g_free(name);
  }
  g_list_free_full(found, gst_object_unref);
  gst_object_unref(monitor);
}

void AppendListedSources(std::vector<CaptureDevice>& devices) {
  const char* listed = std::getenv("STEREO_CAPTURE_SOURCES");
  if (listed == nullptr) return;
  for (const std::string& line : SplitSourceList(listed)) {
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(line.c_str(), TRUE, &error);
    if (error != nullptr) g_error_free(error);
    devices.push_back({line, line, CanMake(bin)});
  }
}

class GStreamerCaptureDevices : public CaptureDeviceSource {
 public:
  std::vector<CaptureDevice> Devices() override {
    std::vector<CaptureDevice> devices;
    if (!InitGStreamer()) return devices;
    AppendMonitorDevices(devices);
    AppendListedSources(devices);
    return devices;
  }
};

}  // namespace

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

std::unique_ptr<CaptureDeviceSource> SystemCaptureDevices() {
  return std::make_unique<GStreamerCaptureDevices>();
}

}  // namespace platform
