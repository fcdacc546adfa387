#pragma once

// A frame source the tests drive by hand: an image of its own, and counters
// of what the main window asked of it.

#include <atomic>

#include "Video/vidclass/ipl.h"
#include "Video/vidclass/vidclass.h"
#include "filters/vidfilters.h"

class FakeSource : public tVideoDevice {
 public:
  FakeSource(int width, int height, int channels, int32_t trigger_result = 0)
      : trigger_result_(trigger_result) {
    Width = width;
    Height = height;
    Channels = channels;
    Image = CreateImage(cvSize(width, height), channels, 8, true);
    State = 1;
  }
  ~FakeSource() override { ReleaseImage(&Image); }

  void Start() override { ++starts; }
  void Stop() override { ++stops; }
  void Trigger() override {
    ++triggers;
    LastResult = trigger_result_;
  }
  void SetTriggerMode(bool on) override { trigger_mode = on; }
  // Kept as a camera keeps the rate in effect, for the read-back.
  void SetFrameRate(double fps) override {
    frame_rate = fps;
    FrameRate = fps;
  }

  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<int> triggers{0};
  std::atomic<bool> trigger_mode{false};
  std::atomic<double> frame_rate{0.0};

 private:
  int32_t trigger_result_;
};

// Records every pair the chain hands it.
class RecordingFilter : public TVidFilter {
 public:
  explicit RecordingFilter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    pairs.push_back(input);
    if (throws) throw std::runtime_error("filter failed");
    return TVidFilter::ProcessPair(input);
  }
  std::vector<ImagePair> pairs;
  bool throws = false;
};
