#include "Video/vidclass/capture_sequence.h"

#include <algorithm>
#include <array>
#include <cstring>

CaptureSequence::CaptureSequence(uint32_t handle, const SequenceCalls& calls, const IplImage& format)
    : handle_(handle), calls_(calls), header_(format), reading_header_(format) {}

CaptureSequence::~CaptureSequence() {
  calls_.ClearSequence(handle_);
  for (Memory& memory : memories_) {
    if (memory.Made) calls_.FreeImageMem(handle_, memory.Pixels, memory.Id);
  }
}

int32_t CaptureSequence::Build(char* bound, int32_t boundId, int32_t bitsPerPixel) {
  memories_.push_back({bound, boundId, false, 0, {}});
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
  record_known_ = ProbeRecord(memories_.front().Id);
  return 0;
}

void CaptureSequence::NoteArrival(double now_ms, TriggerLedger& triggers) {
  const std::lock_guard lock(mutex_);
  int32_t number = 0;
  char* filling = nullptr;
  char* last = nullptr;
  if (calls_.GetActSeqBuf(handle_, &number, &filling, &last) != 0 || last == nullptr) return;
  const auto found = std::find_if(memories_.begin(), memories_.end(),
                                  [last](const Memory& memory) { return memory.Pixels == last; });
  if (found == memories_.end()) return;
  const int index = static_cast<int>(found - memories_.begin());
  uint64_t frames = 1;
  uint64_t frame_number = 0;
  bool live = false;
  if (record_known_) {
    const int64_t told = DriverNumber(*found);
    if (told <= 0 || static_cast<uint64_t>(told) == found->Stamp.Number) return;
    frame_number = static_cast<uint64_t>(told);
    live = frame_number <= live_until_;
    // Frames the driver counted but no event told of used up triggers too.
    const uint64_t since = std::max(last_number_, live_until_);
    if (since != 0 && frame_number > since) frames = frame_number - since;
    last_number_ = frame_number;
  } else {
    if (index == last_heard_) return;
    frame_number = ++arrivals_;
    live = live_arrivals_ > 0;
    if (live) --live_arrivals_;
    // Without the driver's numbers a memory refilled unheard (events that
    // came together) can not be told from its last frame: only the newest
    // and the locked ones are trusted.
    for (Memory& memory : memories_) {
      if (memory.Locks == 0) memory.Stamp = {};
    }
  }
  last_heard_ = index;
  found->Stamp = {frame_number, now_ms, live ? 0 : triggers.Answer(frames)};
}

void CaptureSequence::EndLiveFrames() {
  const std::lock_guard lock(mutex_);
  int32_t number = 0;
  char* filling = nullptr;
  char* last = nullptr;
  if (calls_.GetActSeqBuf(handle_, &number, &filling, &last) != 0) return;
  const auto found = std::find_if(memories_.begin(), memories_.end(),
                                  [last](const Memory& memory) { return memory.Pixels == last; });
  const int in_flight = filling != nullptr ? 1 : 0;
  if (record_known_) {
    const int64_t told = found != memories_.end() ? DriverNumber(*found) : 0;
    live_until_ = static_cast<uint64_t>(std::max<int64_t>(told, 0)) + in_flight;
    return;
  }
  // The frame filled last may not have been heard of yet.
  const bool unheard = found != memories_.end() && static_cast<int>(found - memories_.begin()) != last_heard_;
  live_arrivals_ = in_flight + (unheard ? 1 : 0);
}

bool CaptureSequence::StillHolds(const Memory& memory) const {
  if (memory.Stamp.Number == 0) return false;
  const int64_t told = DriverNumber(memory);
  return told < 0 || static_cast<uint64_t>(told) == memory.Stamp.Number;
}

int64_t CaptureSequence::DriverNumber(const Memory& memory) const {
  if (!record_known_) return -1;
  alignas(8) std::array<char, kImageInfoRoom> room{};
  if (calls_.GetImageInfo(handle_, memory.Id, room.data(), sizeof(DriverImageInfo)) != 0) return 0;
  DriverImageInfo info;
  std::memcpy(&info, room.data(), sizeof info);
  return static_cast<int64_t>(info.FrameNumber);
}

bool CaptureSequence::ProbeRecord(int32_t id) const {
  if (calls_.GetImageInfo == nullptr) return false;
  // Bytes past the record are marked: a driver whose own record is larger
  // writes over them even when told the size of this one.
  constexpr char kUnwritten = '\xA5';
  alignas(8) std::array<char, kImageInfoRoom> room;
  room.fill(kUnwritten);
  if (calls_.GetImageInfo(handle_, id, room.data(), sizeof(DriverImageInfo)) != 0) return false;
  return std::all_of(room.begin() + sizeof(DriverImageInfo), room.end(),
                     [](char byte) { return byte == kUnwritten; });
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
    if (StillHolds(memory)) frames.Add({memory.Id, memory.Stamp});
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
  if (!(memories_[index].Stamp == slot.Stamp) || !StillHolds(memories_[index])) {
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
