#pragma once

// A frame source the tests drive by hand: an image of its own, and counters
// of what the main window asked of it.

#include <array>
#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <vector>

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

// The pixels of an image, row by row without padding; empty for none.
inline std::vector<char> PixelsOf(const IplImage* image) {
  std::vector<char> pixels;
  if (image == nullptr || image->imageData == nullptr) return pixels;
  const int row_bytes = image->width * image->nChannels * (image->depth & 0xff) / 8;
  for (int row = 0; row < image->height; ++row) {
    const char* begin = image->imageData + static_cast<ptrdiff_t>(row) * image->widthStep;
    pixels.insert(pixels.end(), begin, begin + row_bytes);
  }
  return pixels;
}

// Records every pair the chain hands it, and the pixels of the last one: the
// images of every pair may be one header re-pointed, so only their pixels
// tell two frames apart.
class RecordingFilter : public TVidFilter {
 public:
  explicit RecordingFilter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    pairs.push_back(input);
    last_pixels = {PixelsOf(input.Left()), PixelsOf(input.Right())};
    if (throws) throw std::runtime_error("filter failed");
    return TVidFilter::ProcessPair(input);
  }
  std::vector<ImagePair> pairs;
  std::array<std::vector<char>, 2> last_pixels;
  bool throws = false;
};
