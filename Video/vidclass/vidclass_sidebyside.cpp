#include "Video/vidclass/vidclass_sidebyside.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

// The pipeline of a stereo camera while either eye's device holds it.
std::shared_ptr<CaptureFeed> SharedFeed(int32_t deviceIndex) {
  static std::mutex mutex;
  static std::map<int32_t, std::weak_ptr<CaptureFeed>> feeds;
  const std::lock_guard lock(mutex);
  std::weak_ptr<CaptureFeed>& kept = feeds[deviceIndex];
  std::shared_ptr<CaptureFeed> feed = kept.lock();
  if (!feed) {
    feed = std::make_shared<CaptureFeed>(deviceIndex);
    kept = feed;
  }
  return feed;
}

}  // namespace

tVideoDeviceSideBySide::tVideoDeviceSideBySide(int32_t deviceIndex, platform::StereoLayout layout, int eye,
                                               platform::WindowHandle window)
    : tVideoDeviceDShow(deviceIndex >= 0 ? SharedFeed(deviceIndex) : nullptr, layout, eye, window) {
  if (State == -1) Log.push_back("DShow CaptureDevice " + std::to_string(deviceIndex) + " not found");
}
