#include "Video/vidclass/capture_feed.h"

#include <algorithm>
#include <utility>

SampleFrames::SampleFrames(const IplImage& format, FrameRegion region, int count)
    : region_(region), frames_(static_cast<size_t>(std::min(count, FrameList::kCapacity))) {
  for (Frame& frame : frames_)
    frame.Header = CreateImage(cvSize(format.width, format.height), format.nChannels, format.depth, false);
}

SampleFrames::~SampleFrames() {
  for (Frame& frame : frames_) ReleaseImage(&frame.Header);
}

bool SampleFrames::Fits(const platform::CaptureSample& sample) const {
  const IplImage& format = *frames_.front().Header;
  const long row_bytes = static_cast<long>(region_.X + format.width) * format.nChannels;
  if (sample.Data == nullptr || sample.Stride < row_bytes) return false;
  return static_cast<long>(region_.Y + format.height - 1) * sample.Stride + row_bytes <= sample.Length;
}

bool SampleFrames::Put(const platform::CaptureSample& sample, const FrameStamp& stamp) {
  if (frames_.empty() || !Fits(sample)) return false;
  platform::CaptureSample replaced;
  {
    const std::lock_guard lock(mutex_);
    int target = -1;
    for (int i = 0; i < static_cast<int>(frames_.size()) && target < 0; ++i) {
      if (frames_[i].Locks == 0 && i != newest_) target = i;
    }
    if (target < 0) return false;
    Frame& frame = frames_[target];
    replaced = std::exchange(frame.Sample, sample);
    IplImage& header = *frame.Header;
    // The pixels are read only; the header's type says otherwise.
    header.imageData = const_cast<char*>(sample.Data) + static_cast<ptrdiff_t>(region_.Y) * sample.Stride +
                       static_cast<ptrdiff_t>(region_.X) * header.nChannels;
    header.imageDataOrigin = header.imageData;
    header.widthStep = sample.Stride;
    // Rows of the whole frame: an eye's last row ends before the frame's
    // does, so its size counts only up to there.
    header.imageSize = sample.Stride * (header.height - 1) + header.width * header.nChannels;
    frame.Stamp = stamp;
    frame.Complete = true;
    newest_ = target;
  }
  // The sample let go here may be the pipeline's last reference to its
  // buffer; it goes back outside the lock.
  return true;
}

FrameList SampleFrames::CompleteFrames() {
  const std::lock_guard lock(mutex_);
  FrameList frames;
  for (int i = 0; i < static_cast<int>(frames_.size()); ++i) {
    if (frames_[i].Complete) frames.Add({i, frames_[i].Stamp});
  }
  frames.SortNewestFirst();
  return frames;
}

int SampleFrames::LockIfHolding(const FrameSlot& slot) {
  if (slot.Memory < 0 || slot.Memory >= static_cast<int>(frames_.size())) return -1;
  Frame& frame = frames_[slot.Memory];
  if (!frame.Complete || !(frame.Stamp == slot.Stamp)) return -1;
  ++frame.Locks;
  return slot.Memory;
}

void SampleFrames::Unlock(int index) {
  if (index >= 0) --frames_[index].Locks;
}

IplImage* SampleFrames::Hold(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  const int index = LockIfHolding(slot);
  if (index < 0) return nullptr;
  Unlock(held_);
  held_ = index;
  return frames_[index].Header;
}

bool SampleFrames::Pin(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  return LockIfHolding(slot) >= 0;
}

void SampleFrames::Unpin(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  if (slot.Memory >= 0 && slot.Memory < static_cast<int>(frames_.size()) && frames_[slot.Memory].Locks > 0)
    Unlock(slot.Memory);
}

IplImage* SampleFrames::Held() {
  const std::lock_guard lock(mutex_);
  return held_ >= 0 ? frames_[held_].Header : nullptr;
}

void SampleFrames::Release() {
  const std::lock_guard lock(mutex_);
  Unlock(held_);
  held_ = -1;
}

bool SampleFrames::ReadNewest(const FrameReader& read) {
  int index = -1;
  {
    const std::lock_guard lock(mutex_);
    if (newest_ < 0) return false;
    index = newest_;
    ++frames_[index].Locks;
  }
  read(*frames_[index].Header);
  const std::lock_guard lock(mutex_);
  Unlock(index);
  return true;
}

CaptureFeed::CaptureFeed(int32_t index) : pipeline_(static_cast<std::size_t>(index), this) {}

// The pipeline goes first (it is the last member): its streaming threads end
// before the views do.
CaptureFeed::~CaptureFeed() = default;

bool CaptureFeed::Bound() const { return pipeline_.Bound(); }

const std::vector<platform::CaptureMode>& CaptureFeed::Modes() { return pipeline_.Modes(); }

bool CaptureFeed::Link(bool grey, int width, int height) {
  if (!linked_) linked_ = pipeline_.Link(Mode, grey, width, height);
  return *linked_;
}

CaptureFeed::Entry* CaptureFeed::Find(const FeedView& view) {
  for (Entry& entry : views_)
    if (entry.View.Frames == view.Frames) return &entry;
  return nullptr;
}

void CaptureFeed::Attach(const FeedView& view) {
  const std::lock_guard lock(views_mutex_);
  if (Find(view) == nullptr) views_.push_back({view, false});
}

void CaptureFeed::Detach(const FeedView& view) {
  bool others_started = false;
  bool was_started = false;
  {
    const std::lock_guard lock(views_mutex_);
    const auto gone = std::find_if(views_.begin(), views_.end(),
                                   [&view](const Entry& entry) { return entry.View.Frames == view.Frames; });
    if (gone == views_.end()) return;
    was_started = gone->Started;
    views_.erase(gone);
    others_started =
        std::any_of(views_.begin(), views_.end(), [](const Entry& entry) { return entry.Started; });
  }
  // Halted without the lock: the streaming thread may be waiting for it.
  if (was_started && !others_started) pipeline_.Halt();
}

void CaptureFeed::Start(const FeedView& view) {
  {
    const std::lock_guard lock(views_mutex_);
    Entry* entry = Find(view);
    if (entry == nullptr) return;
    entry->Started = true;
  }
  try {
    pipeline_.Run();
  } catch (...) {
    const std::lock_guard lock(views_mutex_);
    if (Entry* entry = Find(view)) entry->Started = false;
    throw;
  }
}

void CaptureFeed::Stop(const FeedView& view) {
  bool others_started = false;
  {
    const std::lock_guard lock(views_mutex_);
    Entry* entry = Find(view);
    if (entry == nullptr) return;
    entry->Started = false;
    others_started = std::any_of(views_.begin(), views_.end(), [](const Entry& e) { return e.Started; });
  }
  if (!others_started) pipeline_.Halt();
}

void CaptureFeed::SampleArrived(platform::CaptureSample sample) {
  // Every view's frame of this sample carries one stamp: the halves of a
  // stereo frame pair by construction.
  const FrameStamp stamp{++samples_, sample.Time_ms};
  const std::lock_guard lock(views_mutex_);
  for (const Entry& entry : views_) {
    // A frame that finds every frame of its view held is dropped.
    if (entry.Started && entry.View.Frames->Put(sample, stamp)) entry.View.Wake->Signal();
  }
}

void CaptureFeed::StreamEnded(const std::string& reason) {
  platform::WindowHandle window = nullptr;
  {
    const std::lock_guard lock(views_mutex_);
    if (!views_.empty()) window = views_.front().View.Window;
  }
  // One line for the window, however many views the stream fed.
  platform::PostLogLine(window, "DShow stopped: " + reason);
}
