#pragma once

// A system capture device (a webcam, or a GStreamer source listed in
// STEREO_CAPTURE_SOURCES): its pipeline converts and scales every frame to
// Width x Height, and each sample is copied into the device's own frames.

#include <cstdint>
#include <memory>
#include <string>

#include "Video/vidclass/vidclass.h"
#include "platform/capture_pipeline.h"

class tVideoDeviceDShow : public tVideoDevice, private platform::CaptureSampleSink {
 public:
  // Binds the device at this index of the capture-device list, which names
  // the same device only while the list is unchanged since enumeration.
  // State stays -1, with a line in Log, when there is no such device.
  tVideoDeviceDShow(int32_t deviceIndex, platform::WindowHandle window);
  ~tVideoDeviceDShow() override;

  // The device has no trigger.
  void SetTriggerMode(bool on) override;
  // Makes Image and links the pipeline for it. Channels other than 1 or 3,
  // or an empty frame size, are refused with std::invalid_argument.
  void Init(uint32_t messageNumber) override;
  // Throw std::runtime_error with the pipeline's error text when refused.
  void Start() override;
  void Stop() override;

  // Copies the sample and wakes the capture thread; runs on the streaming
  // thread. A sample shorter than the image is not taken.
  bool SampleArrived(double sampleTime, char* buffer, long length) override;

  // The capture pipeline; none for a negative index.
  std::unique_ptr<platform::CapturePipeline> Graph;

 private:
  // The stream stopped by itself (unplugged, failed, or at its end): one line
  // for the window's log. Frames simply stop coming.
  void StreamEnded(const std::string& reason) override;

  CopiedFrames* copies_ = nullptr;
  uint64_t samples_ = 0;
};
