#pragma once

// Where a source keeps its complete frames, and how the window holds one whole
// while no driver writes it.

#include <array>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "Video/vidclass/frame_stamp.h"
#include "Video/vidclass/ipl.h"
#include "Video/vidclass/trigger_ledger.h"

// One complete frame of a source: the memory that holds it and its stamp.
struct FrameSlot {
  int32_t Memory = 0;
  FrameStamp Stamp;
};

// A source's complete frames, newest first. The window asks for them at every
// frame, so the list is a fixed array rather than memory from the heap; no
// source keeps more frames than it holds.
class FrameList {
 public:
  static constexpr int kCapacity = 8;

  void Add(const FrameSlot& slot);
  void SortNewestFirst();
  bool empty() const { return count_ == 0; }
  const FrameSlot& front() const { return slots_[0]; }
  const FrameSlot* begin() const { return slots_.data(); }
  const FrameSlot* end() const { return slots_.data() + count_; }
  operator std::span<const FrameSlot>() const { return {begin(), end()}; }

 private:
  std::array<FrameSlot, kCapacity> slots_{};
  int count_ = 0;
};

using FrameReader = std::function<void(const IplImage&)>;
// Writes one whole frame into an image of the store's format.
using FrameWriter = std::function<void(IplImage&)>;

class FrameStore {
 public:
  FrameStore() = default;
  virtual ~FrameStore() = default;
  FrameStore(const FrameStore&) = delete;
  FrameStore& operator=(const FrameStore&) = delete;

  // The capture thread's word that the driver announced a frame, at the
  // host's steady-clock time `now_ms`: the store stamps the frame the driver
  // filled last. Stores that are handed their frames stamp them then.
  virtual void NoteArrival(double /*now_ms*/, TriggerLedger& /*triggers*/) {}
  // Called once the driver takes no more live frames (trigger mode on): the
  // frames it filled or began before still arrive, and answer no trigger.
  virtual void EndLiveFrames() {}
  // Newest first.
  virtual FrameList CompleteFrames() = 0;
  // Locks that frame and lets go of the one held before; null when the
  // memory no longer holds that frame.
  virtual IplImage* Hold(const FrameSlot& slot) = 0;
  // Keeps that frame from being refilled without holding it, so the other
  // side of a pair can be held first; false when it is gone already. Each
  // pin that succeeded is ended by one Unpin.
  virtual bool Pin(const FrameSlot& slot) = 0;
  virtual void Unpin(const FrameSlot& slot) = 0;
  virtual IplImage* Held() = 0;
  virtual void Release() = 0;
  virtual bool ReadNewest(const FrameReader& read) = 0;
};

// Frames the source copies in itself, where its own buffers cannot be held
// (a capture pipeline recycles them): a few images of the frame's format.
class CopiedFrames : public FrameStore {
 public:
  CopiedFrames(const IplImage& format, int count);
  ~CopiedFrames() override;

  // Copies a frame of the format's size (rows of `pitch` bytes) into an image
  // nobody holds; false when every image is held. Any thread.
  bool Put(const char* pixels, int pitch, const FrameStamp& stamp);
  // The same with the frame written by `write` (a conversion, say).
  bool Put(const FrameWriter& write, const FrameStamp& stamp);

  FrameList CompleteFrames() override;
  IplImage* Hold(const FrameSlot& slot) override;
  bool Pin(const FrameSlot& slot) override;
  void Unpin(const FrameSlot& slot) override;
  IplImage* Held() override;
  void Release() override;
  bool ReadNewest(const FrameReader& read) override;

 private:
  struct Copy {
    IplImage* Image = nullptr;
    FrameStamp Stamp;
    int Locks = 0;
    bool Complete = false;
  };
  // Called with mutex_ held. LockIfHolding: the copy's index, or -1 when it
  // no longer holds that frame.
  int LockIfHolding(const FrameSlot& slot);
  void Unlock(int index);

  std::mutex mutex_;
  std::vector<Copy> copies_;
  int held_ = -1;
  int newest_ = -1;
};
