#pragma once

// The driver's own way to hand over whole frames: a ring of image memories
// registered as its sequence, which it fills in turn, skipping any memory the
// program has locked. A frame is stamped when the capture thread hears of it:
// the host's time of arrival, the driver's frame number where its image
// information has the layout known here (else the count of arrivals), and the
// trigger it answered.

#include <cstdint>
#include <mutex>
#include <vector>

#include "Video/vidclass/frame_store.h"

// The image information record as this program knows it (is_GetImageInfo):
// frame number 0 marks a memory without a complete frame. A driver of another
// layout fills a record of its own, larger or ordered otherwise; its fields
// are then never read.
struct DriverImageInfo {
  uint32_t Flags;
  uint32_t Reserved;
  uint64_t TimestampDevice;
  uint64_t FrameNumber;
};
static_assert(sizeof(DriverImageInfo) == 24);
// The room given to the driver for its record: more than any driver's record
// is, so a record of another layout never writes past it.
inline constexpr int32_t kImageInfoRoom = 1024;
// Sequence calls that name the memory by its address alone.
inline constexpr int32_t IS_IGNORE_SEQUENCE_NUMBER = -1;

// The driver entries a sequence needs; the camera and the frame-grabber
// libraries have the same. GetImageInfo may be null: the frames are then
// numbered in the order they arrive.
struct SequenceCalls {
  int32_t (*AllocImageMem)(uint32_t, int32_t w, int32_t h, int32_t bits, char** mem, int32_t* id);
  int32_t (*FreeImageMem)(uint32_t, char* mem, int32_t id);
  int32_t (*AddToSequence)(uint32_t, char* mem, int32_t id);
  int32_t (*ClearSequence)(uint32_t);
  int32_t (*GetActSeqBuf)(uint32_t, int32_t* num, char** mem, char** last);
  int32_t (*LockSeqBuf)(uint32_t, int32_t num, char* mem);
  int32_t (*UnlockSeqBuf)(uint32_t, int32_t num, char* mem);
  int32_t (*GetImageInfo)(uint32_t, int32_t id, void* info, int32_t size);
};

class CaptureSequence : public FrameStore {
 public:
  // Memories in the ring: one held by the window, one a recording capture
  // thread may read, and enough for the driver to go on filling meanwhile.
  static constexpr int kMemories = 5;
  static_assert(kMemories <= FrameList::kCapacity);

  // `format` is the header of the memory already bound; the others are made
  // like it.
  CaptureSequence(uint32_t handle, const SequenceCalls& calls, const IplImage& format);
  // Clears the sequence and frees the memories it made.
  ~CaptureSequence() override;

  // Registers the bound memory and the further ones; the first failing
  // driver result, or 0.
  int32_t Build(char* bound, int32_t boundId, int32_t bitsPerPixel);
  // True when the driver's image information is read for frame numbers.
  bool KnowsDriverRecord() const { return record_known_; }

  void NoteArrival(double now_ms, TriggerLedger& triggers) override;
  void EndLiveFrames() override;
  FrameList CompleteFrames() override;
  IplImage* Hold(const FrameSlot& slot) override;
  bool Pin(const FrameSlot& slot) override;
  void Unpin(const FrameSlot& slot) override;
  IplImage* Held() override;
  void Release() override;
  bool ReadNewest(const FrameReader& read) override;

 private:
  struct Memory {
    char* Pixels = nullptr;
    int32_t Id = 0;
    bool Made = false;
    int Locks = 0;
    // The frame it was last heard to hold; Number 0: none.
    FrameStamp Stamp;
  };
  // Called with mutex_ held; false when the driver refuses the lock.
  bool Lock(Memory& memory);
  // Called with mutex_ held: the memory's index, locked, or -1 when it no
  // longer holds that frame.
  int LockIfHolding(const FrameSlot& slot);
  void Unlock(Memory& memory);
  // The driver's frame number of what the memory holds (0: nothing whole),
  // or -1 where the driver's record is not read.
  int64_t DriverNumber(const Memory& memory) const;
  // Whether the driver fills the record known here: it takes its size and
  // writes nothing past it.
  bool ProbeRecord(int32_t id) const;
  // Called with mutex_ held: the memory still holds the frame it was heard to.
  bool StillHolds(const Memory& memory) const;
  int IndexOf(int32_t id) const;

  const uint32_t handle_;
  const SequenceCalls calls_;
  std::mutex mutex_;
  std::vector<Memory> memories_;
  int held_ = -1;
  bool record_known_ = false;
  // The memory and the driver's number of the frame heard of last.
  int last_heard_ = -1;
  uint64_t last_number_ = 0;
  uint64_t arrivals_ = 0;
  // Live frames still to come after trigger mode began: up to that driver
  // number, or that many arrivals where the driver tells no numbers.
  uint64_t live_until_ = 0;
  int live_arrivals_ = 0;
  IplImage header_;
  IplImage reading_header_;
};
