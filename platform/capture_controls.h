#pragma once

// The picture controls of a capture pipeline's source: a camera's V4L2
// controls through the descriptor of its "v4l2src", else GStreamer's colour
// balance interface of any element in the pipeline.

#include <gst/gst.h>

#include <optional>

#include "platform/capture_pipeline.h"

namespace platform {

class SourceControls {
 public:
  // The pipeline stays its owner's; the controls are looked up at each call,
  // since a camera's descriptor exists only while it is open.
  explicit SourceControls(GstElement* pipeline) : pipeline_(pipeline) {}

  // Exposure in milliseconds; the others in the control's own units.
  std::optional<ControlRange> RangeOf(CaptureControl control) const;
  std::optional<double> ValueOf(CaptureControl control) const;
  std::optional<double> Set(CaptureControl control, double value) const;

 private:
  GstElement* pipeline_;
};

}  // namespace platform
