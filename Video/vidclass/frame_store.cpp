#include "Video/vidclass/frame_store.h"

#include <algorithm>
#include <cstring>

void FrameList::Add(const FrameSlot& slot) {
  if (count_ < kCapacity) slots_[count_++] = slot;
}

void FrameList::SortNewestFirst() {
  std::sort(slots_.begin(), slots_.begin() + count_,
            [](const FrameSlot& a, const FrameSlot& b) { return a.Stamp.Number > b.Stamp.Number; });
}

CopiedFrames::CopiedFrames(const IplImage& format, int count)
    : copies_(static_cast<size_t>(std::min(count, FrameList::kCapacity))) {
  for (Copy& copy : copies_)
    copy.Image = CreateImage(cvSize(format.width, format.height), format.nChannels, format.depth, true);
}

CopiedFrames::~CopiedFrames() {
  for (Copy& copy : copies_) ReleaseImage(&copy.Image);
}

bool CopiedFrames::Put(const char* pixels, int pitch, const FrameStamp& stamp) {
  return Put(
      [pixels, pitch](IplImage& image) {
        const int row_bytes = std::min(pitch, image.widthStep);
        for (int row = 0; row < image.height; ++row)
          std::memcpy(image.imageData + static_cast<ptrdiff_t>(row) * image.widthStep,
                      pixels + static_cast<ptrdiff_t>(row) * pitch, row_bytes);
      },
      stamp);
}

bool CopiedFrames::Put(const FrameWriter& write, const FrameStamp& stamp) {
  int target = -1;
  {
    const std::lock_guard lock(mutex_);
    for (int i = 0; i < static_cast<int>(copies_.size()) && target < 0; ++i) {
      if (copies_[i].Locks == 0 && i != newest_) target = i;
    }
    if (target < 0) return false;
    copies_[target].Complete = false;
  }
  // Written outside the lock: an incomplete image is never listed or held.
  write(*copies_[target].Image);
  const std::lock_guard lock(mutex_);
  copies_[target].Stamp = stamp;
  copies_[target].Complete = true;
  newest_ = target;
  return true;
}

FrameList CopiedFrames::CompleteFrames() {
  const std::lock_guard lock(mutex_);
  FrameList frames;
  for (int i = 0; i < static_cast<int>(copies_.size()); ++i) {
    if (copies_[i].Complete) frames.Add({i, copies_[i].Stamp});
  }
  frames.SortNewestFirst();
  return frames;
}

int CopiedFrames::LockIfHolding(const FrameSlot& slot) {
  if (slot.Memory < 0 || slot.Memory >= static_cast<int>(copies_.size())) return -1;
  Copy& copy = copies_[slot.Memory];
  if (!copy.Complete || !(copy.Stamp == slot.Stamp)) return -1;
  ++copy.Locks;
  return slot.Memory;
}

IplImage* CopiedFrames::Hold(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  const int index = LockIfHolding(slot);
  if (index < 0) return nullptr;
  Unlock(held_);
  held_ = index;
  return copies_[index].Image;
}

bool CopiedFrames::Pin(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  return LockIfHolding(slot) >= 0;
}

void CopiedFrames::Unpin(const FrameSlot& slot) {
  const std::lock_guard lock(mutex_);
  if (slot.Memory >= 0 && slot.Memory < static_cast<int>(copies_.size()) && copies_[slot.Memory].Locks > 0)
    Unlock(slot.Memory);
}

IplImage* CopiedFrames::Held() {
  const std::lock_guard lock(mutex_);
  return held_ >= 0 ? copies_[held_].Image : nullptr;
}

void CopiedFrames::Release() {
  const std::lock_guard lock(mutex_);
  Unlock(held_);
  held_ = -1;
}

void CopiedFrames::Unlock(int index) {
  if (index >= 0) --copies_[index].Locks;
}

bool CopiedFrames::ReadNewest(const FrameReader& read) {
  int index = -1;
  {
    const std::lock_guard lock(mutex_);
    if (newest_ < 0) return false;
    index = newest_;
    ++copies_[index].Locks;
  }
  read(*copies_[index].Image);
  const std::lock_guard lock(mutex_);
  Unlock(index);
  return true;
}
