#pragma once

// A system capture device (a webcam, or a GStreamer source listed in
// STEREO_CAPTURE_SOURCES). It opens at the mode the source prefers, or the
// one picked from its modes, in grey or colour as that mode is; 320 x 240
// grey for a source that states no size. The pipeline converts and scales
// to Width x Height x Channels, and the window holds the samples themselves.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Video/vidclass/capture_feed.h"
#include "Video/vidclass/vidclass.h"
#include "platform/capture_devices.h"

class tVideoDeviceDShow : public tVideoDevice {
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

  // The source's modes as "1280 x 720 YUY2 30 fps", preferred first; null
  // when it offers none of a fixed size.
  std::vector<std::string>* GetModeList() override;
  // Opens at that mode of the list (before Init): Width, Height and
  // Channels follow it. False, changing nothing, for a mode not offered.
  bool SelectMode(const std::string& mode);
  // The mode in force; empty for a source that states none.
  std::string ModeText() const;

  // The source's controls where it has them: brightness, contrast and gain
  // as a share of their range, exposure in milliseconds; each value is read back
  // from the source. Without the control the value is kept as given and the
  // log says so once. The rate is the mode's.
  void SetFrameRate(double fps) override;
  void SetExposure(double ms) override;
  void GetExposureRange(ValueRange& range) override;
  void SetBrightness(double value) override;
  void SetContrast(double value) override;
  void SetGain(double share) override;

  // Takes a sample as the pipeline hands it over, for the frame-path bench
  // and tests that deliver their own; true when a frame took it.
  bool TakeSample(const platform::CaptureSample& sample);

 protected:
  // One eye's view of a feed shared with the other eye's device; Width,
  // Height and Channels then describe that eye's image.
  tVideoDeviceDShow(std::shared_ptr<CaptureFeed> feed, platform::StereoLayout layout, int eye,
                    platform::WindowHandle window);

 private:
  // Width, Height and Channels for the mode in force.
  void TakeModeSize();
  // The value read back, as a share of the control's range; `share` itself
  // when the source has no such control.
  double ApplyShare(platform::CaptureControl control, double share, const char* name);
  void SayNoControl(const char* name);

  std::shared_ptr<CaptureFeed> feed_;
  const platform::StereoLayout layout_;
  const int eye_;
  FeedView view_;
  SampleFrames* frames_ = nullptr;
  std::vector<std::string> modeTexts_;
  std::set<std::string> toldNoControl_;
  uint64_t taken_ = 0;
};
