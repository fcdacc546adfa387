#pragma once

// One system capture pipeline and the views that take its frames: the whole
// frame for a capture device, or each eye's half of a stereo camera whose
// frame holds both. A view keeps the samples themselves, so a frame is never
// copied on its way to the window.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Video/vidclass/frame_store.h"
#include "platform/capture_pipeline.h"
#include "platform/frame_event.h"
#include "platform/window_handle.h"

// Where a view's image lies in the frame, in pixels and rows.
struct FrameRegion {
  int X = 0;
  int Y = 0;
};

// A view's complete frames: headers over delivered samples. A sample stays
// with its frame, and so is never refilled, while the frame is listed.
class SampleFrames : public FrameStore {
 public:
  // Frames of the format's size and channels at `region` of each sample.
  SampleFrames(const IplImage& format, FrameRegion region, int count);
  ~SampleFrames() override;

  // Takes the sample into a frame nobody holds; false when the sample is
  // too small for the region or every frame is held. Any thread.
  bool Put(const platform::CaptureSample& sample, const FrameStamp& stamp);

  FrameList CompleteFrames() override;
  IplImage* Hold(const FrameSlot& slot) override;
  bool Pin(const FrameSlot& slot) override;
  void Unpin(const FrameSlot& slot) override;
  IplImage* Held() override;
  void Release() override;
  bool ReadNewest(const FrameReader& read) override;

 private:
  struct Frame {
    IplImage* Header = nullptr;
    platform::CaptureSample Sample;
    FrameStamp Stamp;
    int Locks = 0;
    bool Complete = false;
  };
  bool Fits(const platform::CaptureSample& sample) const;
  // Called with mutex_ held; the frame's index, or -1 when it no longer
  // holds that frame.
  int LockIfHolding(const FrameSlot& slot);
  void Unlock(int index);

  const FrameRegion region_;
  std::mutex mutex_;
  std::vector<Frame> frames_;
  int held_ = -1;
  int newest_ = -1;
};

// What a feed hands its frames to: a view's frames and whom it wakes.
struct FeedView {
  SampleFrames* Frames = nullptr;
  platform::FrameEvent* Wake = nullptr;
  platform::WindowHandle Window = nullptr;
};

class CaptureFeed : private platform::CaptureSampleSink {
 public:
  // The source at this index of the capture-device list.
  explicit CaptureFeed(int32_t index);
  ~CaptureFeed() override;
  CaptureFeed(const CaptureFeed&) = delete;
  CaptureFeed& operator=(const CaptureFeed&) = delete;

  bool Bound() const;
  // The source's modes, its preferred first; empty when it states no size.
  const std::vector<platform::CaptureMode>& Modes();
  // The mode the pipeline is held to, chosen before Link.
  std::optional<platform::CaptureMode> Mode;
  // Links the pipeline for frames of that size once; later calls answer
  // the first one's result, for the views that join.
  bool Link(bool grey, int width, int height);
  bool Linked() const { return linked_.has_value(); }

  // A view takes frames once attached and started. Stop of the last started
  // view halts the pipeline; Start runs it (again, after its end).
  void Attach(const FeedView& view);
  void Detach(const FeedView& view);
  void Start(const FeedView& view);
  void Stop(const FeedView& view);

  platform::CapturePipeline& Pipeline() { return pipeline_; }

 private:
  struct Entry {
    FeedView View;
    bool Started = false;
  };
  void SampleArrived(platform::CaptureSample sample) override;
  void StreamEnded(const std::string& reason) override;
  Entry* Find(const FeedView& view);

  std::mutex views_mutex_;
  std::vector<Entry> views_;
  // Streaming thread only.
  uint64_t samples_ = 0;
  std::optional<bool> linked_;
  // Last, so the streaming threads end before the views go.
  platform::CapturePipeline pipeline_;
};
