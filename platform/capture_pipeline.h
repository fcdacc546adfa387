#pragma once

// The capture graph of one system capture device: the device's source,
// "videoconvert" and "videoscale" into an "appsink" named "SampleGrabber" that
// hands every sample to its owner.

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// What a pipeline tells its owner, on GStreamer's streaming threads (an
// error raised while Run changes the state is told from Run).
class CaptureSampleSink {
 public:
  virtual ~CaptureSampleSink() = default;
  // A sample in the linked format. Its memory stays valid until the owner
  // has taken a later one, or the pipeline is destroyed; false: not taken,
  // the sample taken before stays valid.
  virtual bool SampleArrived(double sample_time_s, char* buffer, long length) = 0;
  // The stream stopped by itself while running: the source's error text, or
  // "end of stream". Told at most once per run.
  virtual void StreamEnded(const std::string& reason) = 0;
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
  // Asks the grabber for exactly width x height frames, 8-bit grey or 24-bit
  // BGR, and links the chain; the converters fill in whatever the source
  // delivers. False when the chain does not link.
  bool Link(bool grey, int width, int height);
  // Play and stop. Both throw std::runtime_error with GStreamer's error text
  // and " ($<code in upper-case hex>)." when the pipeline refuses.
  void Run();
  void Halt();

 private:
  struct Graph;
  std::unique_ptr<Graph> graph_;
};

}  // namespace platform
