#include "Video/vidclass/capture_sequence.h"

#include <algorithm>

namespace {

constexpr double kTimestampUnitsPerMs = 10000.0;

}  // namespace

CaptureSequence::CaptureSequence(uint32_t handle, const SequenceCalls& calls, const IplImage& format)
    : handle_(handle), calls_(calls), header_(format), reading_header_(format) {}

CaptureSequence::~CaptureSequence() {
  calls_.ClearSequence(handle_);
  for (Memory& memory : memories_) {
    if (memory.Made) calls_.FreeImageMem(handle_, memory.Pixels, memory.Id);
  }
}

int32_t CaptureSequence::Build(char* bound, int32_t boundId, int32_t bitsPerPixel) {
  memories_.push_back({bound, boundId, false, 0});
  for (int i = 1; i < kMemories; ++i) {
    Memory memory;
    const int32_t made = calls_.AllocImageMem(handle_, header_.width, header_.height, bitsPerPixel,
                                              &memory.Pixels, &memory.Id);
    if (made != 0) return made;
    memory.Made = true;
    memories_.push_back(memory);
  }
  for (Memory& memory : memories_) {
    if (const int32_t added = calls_.AddToSequence(handle_, memory.Pixels, memory.Id); added != 0)
      return added;
  }
  return 0;
}

bool CaptureSequence::StampOf(const Memory& memory, FrameStamp& stamp) const {
  DriverImageInfo info{};
  if (calls_.GetImageInfo(handle_, memory.Id, &info, sizeof info) != 0 || info.FrameNumber == 0) return false;
  stamp = {info.FrameNumber, static_cast<double>(info.TimestampDevice) / kTimestampUnitsPerMs};
  return true;
}

int CaptureSequence::IndexOf(int32_t id) const {
  for (int i = 0; i < static_cast<int>(memories_.size()); ++i) {
    if (memories_[i].Id == id) return i;
  }
  return -1;
}

FrameList CaptureSequence::CompleteFrames() {
  const std::lock_guard lock(mutex_);
  FrameList frames;
  for (const Memory& memory : memories_) {
    FrameSlot slot{memory.Id, {}};
    if (StampOf(memory, slot.Stamp)) frames.Add(slot);
  }
  frames.SortNewestFirst();
  return frames;
}

bool CaptureSequence::Lock(Memory& memory) {
  if (memory.Locks == 0 && calls_.LockSeqBuf(handle_, IS_IGNORE_SEQUENCE_NUMBER, memory.Pixels) != 0)
    return false;
  ++memory.Locks;
  return true;
}

void CaptureSequence::Unlock(Memory& memory) {
  if (--memory.Locks == 0) calls_.UnlockSeqBuf(handle_, IS_IGNORE_SEQUENCE_NUMBER, memory.Pixels);
}

int CaptureSequence::LockIfHolding(const FrameSlot& slot) {
  const int index = IndexOf(slot.Memory);
  if (index < 0 || !Lock(memories_[index])) return -1;
  // Locked now: what the memory holds stays. It must still be the frame chosen.
  FrameStamp stamp;
  if (!StampOf(memories_[index], stamp) || !(stamp == slot.Stamp)) {
    Unlock(memories_[index]);
    return -1;
  }
  return index;
}

bool CaptureSequence::Pin(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  return LockIfHolding(slot) >= 0;
}

void CaptureSequence::Unpin(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  const int index = IndexOf(slot.Memory);
  if (index >= 0 && memories_[index].Locks > 0) Unlock(memories_[index]);
}

IplImage* CaptureSequence::Hold(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  const int index = LockIfHolding(slot);
  if (index < 0) return nullptr;
  if (held_ >= 0) Unlock(memories_[held_]);
  held_ = index;
  header_.imageData = memories_[index].Pixels;
  header_.imageDataOrigin = memories_[index].Pixels;
  return &header_;
}

IplImage* CaptureSequence::Held() {
  const std::lock_guard lock(mutex_);
  return held_ >= 0 ? &header_ : nullptr;
}

void CaptureSequence::Release() {
  const std::lock_guard lock(mutex_);
  if (held_ >= 0) Unlock(memories_[held_]);
  held_ = -1;
}

bool CaptureSequence::ReadNewest(const FrameReader& read) {
  int index = -1;
  {
    const std::lock_guard lock(mutex_);
    int32_t number = 0;
    char* filling = nullptr;
    char* last = nullptr;
    if (calls_.GetActSeqBuf(handle_, &number, &filling, &last) != 0 || last == nullptr) return false;
    const auto found = std::find_if(memories_.begin(), memories_.end(),
                                    [last](const Memory& memory) { return memory.Pixels == last; });
    if (found == memories_.end() || !Lock(*found)) return false;
    index = static_cast<int>(found - memories_.begin());
  }
  // Read outside the lock, so the window's holds do not wait for a recording.
  IplImage header = reading_header_;
  header.imageData = memories_[index].Pixels;
  header.imageDataOrigin = memories_[index].Pixels;
  read(header);
  const std::lock_guard lock(mutex_);
  Unlock(memories_[index]);
  return true;
}
