#pragma once

// The capture graph of one system capture device: the device's source, a
// filter "CaptureMode" that holds it to one of its modes, a decoder where the
// mode is compressed, "videoconvert" and "videoscale" into an "appsink" named
// "SampleGrabber" that hands every sample to its owner.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One way the source can deliver its frames.
struct CaptureMode {
  int width = 0;
  int height = 0;
  // 0 when the source does not say.
  double frames_per_second = 0.0;
  // The media type ("video/x-raw", "image/jpeg") and, for raw video, the
  // pixel format by GStreamer's name ("YUY2", "GRAY8").
  std::string media;
  std::string format;
  // A grey format: the device opens with one channel.
  bool grey = false;
  // The rate as the source states it; 0 / 1 when it does not.
  int rate_numerator = 0;
  int rate_denominator = 1;

  // "1280 x 720 YUY2 30 fps", as the mode lists show it.
  std::string Text() const;
  bool operator==(const CaptureMode&) const = default;
};

// One frame as the grabber delivers it: 8-bit grey or 24-bit BGR rows.
// Memory keeps the pixels valid and unchanged while anyone holds a copy of
// the sample; the pipeline never refills a held one.
struct CaptureSample {
  const char* Data = nullptr;
  long Length = 0;
  int Stride = 0;  // bytes from one row to the next
  // When the frame was captured, on the host's steady clock; 0 unknown.
  double Time_ms = 0.0;
  std::shared_ptr<const void> Memory;
};

// What a pipeline tells its owner, on GStreamer's streaming threads (an
// error raised while Run changes the state is told from Run).
class CaptureSampleSink {
 public:
  virtual ~CaptureSampleSink() = default;
  virtual void SampleArrived(CaptureSample sample) = 0;
  // The stream stopped by itself while running: the source's error text, or
  // "end of stream". Told at most once per run.
  virtual void StreamEnded(const std::string& reason) = 0;
};

// Picture controls a source may offer.
enum class CaptureControl { kBrightness, kContrast, kExposure, kGain };

// A control's range in its own units.
struct ControlRange {
  double minimum = 0.0;
  double maximum = 0.0;
  double step = 0.0;
};

class CapturePipeline {
 public:
  // Binds the source at `index` of the capture-device list as
  // "CaptureDevice"; Bound() tells whether that source could be made.
  CapturePipeline(std::size_t index, CaptureSampleSink* sink);
  ~CapturePipeline();
  CapturePipeline(const CapturePipeline&) = delete;
  CapturePipeline& operator=(const CapturePipeline&) = delete;

  bool Bound() const;
  // The modes of a fixed size the source offers, in its own order of
  // preference; empty when it states no size. Asked of the source once.
  const std::vector<CaptureMode>& Modes();
  // Holds the source to `mode` (none: whatever it gives), asks the grabber
  // for exactly width x height frames, 8-bit grey or 24-bit BGR, and links
  // the chain; the converters fill in the rest and stand aside where the
  // source already delivers that. False when the chain does not link.
  bool Link(const std::optional<CaptureMode>& mode, bool grey, int width, int height);
  // Play and stop. Both throw std::runtime_error with GStreamer's error text
  // and " ($<code in upper-case hex>)." when the pipeline refuses.
  void Run();
  void Halt();

  // The source's own controls, where it has them (its colour balance, the
  // V4L2 controls of a camera): the range, the value in effect, and a change
  // that answers the value in effect afterwards. Empty without the control.
  std::optional<ControlRange> RangeOf(CaptureControl control);
  std::optional<double> ValueOf(CaptureControl control);
  std::optional<double> Set(CaptureControl control, double value);

 private:
  struct Graph;
  std::unique_ptr<Graph> graph_;
};

}  // namespace platform
