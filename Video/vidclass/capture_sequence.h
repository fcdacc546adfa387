#pragma once

// The driver's own way to hand over whole frames: a ring of image memories
// registered as its sequence, which it fills in turn, skipping any memory the
// program has locked. Each memory's frame number and time of exposure come
// from the driver's image information.

#include <cstdint>
#include <mutex>
#include <vector>

#include "Video/vidclass/frame_store.h"

// The image information record both drivers fill (is_GetImageInfo). The time
// stamp counts 0.1 microseconds on the steady clock; frame number 0 marks a
// memory without a complete frame.
struct DriverImageInfo {
  uint32_t Flags;
  uint32_t Reserved;
  uint64_t TimestampDevice;
  uint64_t FrameNumber;
};
static_assert(sizeof(DriverImageInfo) == 24);
// Sequence calls that name the memory by its address alone.
inline constexpr int32_t IS_IGNORE_SEQUENCE_NUMBER = -1;

// The driver entries a sequence needs; the camera and the frame-grabber
// libraries have the same.
struct SequenceCalls {
  int32_t (*AllocImageMem)(uint32_t, int32_t w, int32_t h, int32_t bits, char** mem, int32_t* id);
  int32_t (*FreeImageMem)(uint32_t, char* mem, int32_t id);
  int32_t (*AddToSequence)(uint32_t, char* mem, int32_t id);
  int32_t (*ClearSequence)(uint32_t);
  int32_t (*GetActSeqBuf)(uint32_t, int32_t* num, char** mem, char** last);
  int32_t (*LockSeqBuf)(uint32_t, int32_t num, char* mem);
  int32_t (*UnlockSeqBuf)(uint32_t, int32_t num, char* mem);
  int32_t (*GetImageInfo)(uint32_t, int32_t id, DriverImageInfo* info, int32_t size);
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
  };
  // Called with mutex_ held; false when the driver refuses the lock.
  bool Lock(Memory& memory);
  // Called with mutex_ held: the memory's index, locked, or -1 when it no
  // longer holds that frame.
  int LockIfHolding(const FrameSlot& slot);
  void Unlock(Memory& memory);
  bool StampOf(const Memory& memory, FrameStamp& stamp) const;
  int IndexOf(int32_t id) const;

  const uint32_t handle_;
  const SequenceCalls calls_;
  std::mutex mutex_;
  std::vector<Memory> memories_;
  int held_ = -1;
  IplImage header_;
  IplImage reading_header_;
};
