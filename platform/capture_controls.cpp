#include "platform/capture_controls.h"

#include <gst/video/colorbalance.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace platform {
namespace {

// A V4L2 control and the factor from its units to ours.
struct V4l2Control {
  uint32_t id;
  double to_ours;
};

// Exposure of a UVC camera is counted in 100 microseconds.
V4l2Control V4l2ControlFor(CaptureControl control) {
  switch (control) {
    case CaptureControl::kBrightness:
      return {V4L2_CID_BRIGHTNESS, 1.0};
    case CaptureControl::kContrast:
      return {V4L2_CID_CONTRAST, 1.0};
    case CaptureControl::kExposure:
      return {V4L2_CID_EXPOSURE_ABSOLUTE, 0.1};
    case CaptureControl::kGain:
      break;
  }
  return {V4L2_CID_GAIN, 1.0};
}

// Colour balance channels carry free labels: "BRIGHTNESS" (videobalance),
// "Brightness" (a camera's own). Exposure has no unit there and is not taken.
const char* BalanceLabelFor(CaptureControl control) {
  switch (control) {
    case CaptureControl::kBrightness:
      return "brightness";
    case CaptureControl::kContrast:
      return "contrast";
    case CaptureControl::kGain:
      return "gain";
    case CaptureControl::kExposure:
      break;
  }
  return nullptr;
}

int Ioctl(int fd, unsigned long request, void* argument) {
  int result = 0;
  do {
    result = ioctl(fd, request, argument);
  } while (result < 0 && errno == EINTR);
  return result;
}

// The descriptor of an open camera in the pipeline, or -1.
int CameraDescriptor(GstElement* pipeline) {
  int fd = -1;
  GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
  GValue item = G_VALUE_INIT;
  while (fd < 0 && gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
    auto* element = GST_ELEMENT(g_value_get_object(&item));
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory != nullptr && std::string_view(gst_plugin_feature_get_name(factory)) == "v4l2src")
      g_object_get(element, "device-fd", &fd, nullptr);
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(elements);
  return fd;
}

std::optional<v4l2_queryctrl> QueryV4l2(int fd, uint32_t id) {
  if (fd < 0) return std::nullopt;
  v4l2_queryctrl query{};
  query.id = id;
  if (Ioctl(fd, VIDIOC_QUERYCTRL, &query) < 0 || (query.flags & V4L2_CTRL_FLAG_DISABLED) != 0)
    return std::nullopt;
  return query;
}

std::optional<double> ReadV4l2(int fd, const V4l2Control& control) {
  v4l2_control value{};
  value.id = control.id;
  if (Ioctl(fd, VIDIOC_G_CTRL, &value) < 0) return std::nullopt;
  return value.value * control.to_ours;
}

// A colour balance of the pipeline with that channel; the balance is a new
// reference for the caller.
struct BalanceChannel {
  GstColorBalance* balance = nullptr;
  GstColorBalanceChannel* channel = nullptr;
};

BalanceChannel FindBalanceChannel(GstElement* pipeline, CaptureControl control) {
  const char* label = BalanceLabelFor(control);
  if (label == nullptr) return {};
  GstElement* element = gst_bin_get_by_interface(GST_BIN(pipeline), GST_TYPE_COLOR_BALANCE);
  if (element == nullptr) return {};
  auto* balance = GST_COLOR_BALANCE(element);
  for (const GList* item = gst_color_balance_list_channels(balance); item != nullptr; item = item->next) {
    auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
    if (channel->label != nullptr && g_ascii_strcasecmp(channel->label, label) == 0)
      return {balance, channel};
  }
  gst_object_unref(element);
  return {};
}

}  // namespace

std::optional<ControlRange> SourceControls::RangeOf(CaptureControl control) const {
  const V4l2Control v4l2 = V4l2ControlFor(control);
  if (const auto query = QueryV4l2(CameraDescriptor(pipeline_), v4l2.id)) {
    return ControlRange{query->minimum * v4l2.to_ours, query->maximum * v4l2.to_ours,
                        query->step * v4l2.to_ours};
  }
  const BalanceChannel found = FindBalanceChannel(pipeline_, control);
  if (found.balance == nullptr) return std::nullopt;
  const ControlRange range{static_cast<double>(found.channel->min_value),
                           static_cast<double>(found.channel->max_value), 1.0};
  gst_object_unref(found.balance);
  return range;
}

std::optional<double> SourceControls::ValueOf(CaptureControl control) const {
  const V4l2Control v4l2 = V4l2ControlFor(control);
  const int fd = CameraDescriptor(pipeline_);
  if (QueryV4l2(fd, v4l2.id)) return ReadV4l2(fd, v4l2);
  const BalanceChannel found = FindBalanceChannel(pipeline_, control);
  if (found.balance == nullptr) return std::nullopt;
  const double value = gst_color_balance_get_value(found.balance, found.channel);
  gst_object_unref(found.balance);
  return value;
}

std::optional<double> SourceControls::Set(CaptureControl control, double value) const {
  const V4l2Control v4l2 = V4l2ControlFor(control);
  const int fd = CameraDescriptor(pipeline_);
  if (QueryV4l2(fd, v4l2.id)) {
    // A camera holds its exposure only once its automatic exposure is off.
    if (control == CaptureControl::kExposure) {
      v4l2_control manual{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL};
      Ioctl(fd, VIDIOC_S_CTRL, &manual);
    }
    v4l2_control wanted{v4l2.id, static_cast<int32_t>(std::lround(value / v4l2.to_ours))};
    Ioctl(fd, VIDIOC_S_CTRL, &wanted);
    return ReadV4l2(fd, v4l2);
  }
  const BalanceChannel found = FindBalanceChannel(pipeline_, control);
  if (found.balance == nullptr) return std::nullopt;
  gst_color_balance_set_value(found.balance, found.channel, static_cast<int>(std::lround(value)));
  const double in_effect = gst_color_balance_get_value(found.balance, found.channel);
  gst_object_unref(found.balance);
  return in_effect;
}

}  // namespace platform
