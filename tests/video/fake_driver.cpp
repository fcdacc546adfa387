// A recording driver for the video layer's tests: it exports the names of
// both driver libraries, answers every call with a result the test chose
// (0 unless told otherwise) and keeps one line per call. Built several times,
// each build hiding names, to test how the bindings treat a missing name, and
// once with an image information record of its own layout.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

using HCAM = uint32_t;

namespace {

constexpr HCAM kOpenedHandle = 7;

struct FakeState {
  std::mutex mutex;
  std::vector<std::string> calls;
  std::map<std::string, int32_t> results;
  // Every memory made, by id from 1; the one bound is what is_GetImageMem gives.
  std::map<int32_t, std::vector<char>> memories;
  int32_t bound = 0;
  int32_t pitch = 0;
  // What fake_fill put in a memory: frame number and the camera's own clock.
  std::map<int32_t, std::pair<uint64_t, uint64_t>> frames;
  int32_t lastFilled = 0;
  double frameTimes[3] = {0.0, 0.0, 0.0};
};

FakeState& State() {
  static FakeState state;
  return state;
}

// Records the call and returns the result chosen for `name`.
int32_t Record(const char* name, const std::string& arguments = {}) {
  FakeState& state = State();
  std::lock_guard lock(state.mutex);
  state.calls.push_back(arguments.empty() ? std::string(name) : std::string(name) + " " + arguments);
  const auto chosen = state.results.find(name);
  return chosen == state.results.end() ? 0 : chosen->second;
}

std::string Numbers(std::initializer_list<double> values) {
  std::string text;
  for (double value : values) {
    if (!text.empty()) text += ' ';
    char number[32];
    std::snprintf(number, sizeof number, "%g", value);
    text += number;
  }
  return text;
}

int32_t Open(const char* name, HCAM* handle) {
  const int32_t result = Record(name, std::to_string(*handle));
  if (result == 0) *handle = kOpenedHandle;
  return result;
}

}  // namespace

// Queries of the tests.
FAKE_EXPORT void fake_reset() {
  FakeState& state = State();
  std::lock_guard lock(state.mutex);
  state.calls.clear();
  state.results.clear();
  state.memories.clear();
  state.bound = 0;
  state.pitch = 0;
  state.frames.clear();
  state.lastFilled = 0;
  std::fill(std::begin(state.frameTimes), std::end(state.frameTimes), 0.0);
}
FAKE_EXPORT void fake_set_result(const char* name, int32_t result) {
  std::lock_guard lock(State().mutex);
  State().results[name] = result;
}
FAKE_EXPORT void fake_set_frame_times(double shortest, double longest, double step) {
  std::lock_guard lock(State().mutex);
  State().frameTimes[0] = shortest;
  State().frameTimes[1] = longest;
  State().frameTimes[2] = step;
}
// A frame the driver finished in memory `id`: it becomes the one filled last.
FAKE_EXPORT void fake_fill(int32_t id, uint64_t number, uint64_t camera_time) {
  std::lock_guard lock(State().mutex);
  State().frames[id] = {number, camera_time};
  State().lastFilled = id;
}
FAKE_EXPORT int32_t fake_call_count() {
  std::lock_guard lock(State().mutex);
  return static_cast<int32_t>(State().calls.size());
}
// Copies call `index` into `text`; false past the last call.
FAKE_EXPORT bool fake_call(int32_t index, char* text, int32_t size) {
  std::lock_guard lock(State().mutex);
  if (index < 0 || index >= static_cast<int32_t>(State().calls.size())) return false;
  std::snprintf(text, static_cast<std::size_t>(size), "%s",
                State().calls[static_cast<std::size_t>(index)].c_str());
  return true;
}

// The driver interface.
FAKE_EXPORT int32_t is_InitCamera(HCAM* phCam, void*) { return Open("is_InitCamera", phCam); }
FAKE_EXPORT int32_t is_InitBoard(HCAM* phBoard, void*) { return Open("is_InitBoard", phBoard); }
FAKE_EXPORT int32_t is_ExitCamera(HCAM h) { return Record("is_ExitCamera", std::to_string(h)); }
FAKE_EXPORT int32_t is_ExitBoard(HCAM h) { return Record("is_ExitBoard", std::to_string(h)); }
FAKE_EXPORT int32_t is_GetNumberOfCameras(int32_t* pCount) {
  *pCount = 0;
  return Record("is_GetNumberOfCameras");
}
FAKE_EXPORT int32_t is_GetCameraList(void*) { return Record("is_GetCameraList"); }
FAKE_EXPORT int32_t is_AllocImageMem(HCAM h, int32_t w, int32_t height, int32_t bits, char** ppMem,
                                     int32_t* pId) {
  const int32_t result =
      Record("is_AllocImageMem", Numbers({double(h), double(w), double(height), double(bits)}));
  if (result != 0) return result;
  FakeState& state = State();
  std::lock_guard lock(state.mutex);
  state.pitch = (w * (bits / 8) + 3) / 4 * 4;
  const auto id = static_cast<int32_t>(state.memories.size()) + 1;
  std::vector<char>& memory = state.memories[id];
  memory.assign(static_cast<std::size_t>(state.pitch) * static_cast<std::size_t>(height), '\x55');
  *ppMem = memory.data();
  *pId = id;
  return 0;
}
FAKE_EXPORT int32_t is_SetImageMem(HCAM h, char*, int32_t id) {
  const int32_t result = Record("is_SetImageMem", Numbers({double(h), double(id)}));
  if (result == 0) State().bound = id;
  return result;
}
FAKE_EXPORT int32_t is_FreeImageMem(HCAM h, char*, int32_t id) {
  return Record("is_FreeImageMem", Numbers({double(h), double(id)}));
}
FAKE_EXPORT int32_t is_GetImageMem(HCAM h, void** ppMem) {
  const int32_t result = Record("is_GetImageMem", std::to_string(h));
  std::lock_guard lock(State().mutex);
  const auto bound = State().memories.find(State().bound);
  if (result == 0) *ppMem = bound == State().memories.end() ? nullptr : bound->second.data();
  return result;
}
FAKE_EXPORT int32_t is_AddToSequence(HCAM h, char*, int32_t id) {
  return Record("is_AddToSequence", Numbers({double(h), double(id)}));
}
FAKE_EXPORT int32_t is_ClearSequence(HCAM h) { return Record("is_ClearSequence", std::to_string(h)); }
FAKE_EXPORT int32_t is_GetActSeqBuf(HCAM h, int32_t* pnNum, char** ppcMem, char** ppcMemLast) {
  const int32_t result = Record("is_GetActSeqBuf", std::to_string(h));
  std::lock_guard lock(State().mutex);
  *pnNum = 0;
  *ppcMem = nullptr;
  const auto last = State().memories.find(State().lastFilled);
  *ppcMemLast = last == State().memories.end() ? nullptr : last->second.data();
  return result;
}
FAKE_EXPORT int32_t is_LockSeqBuf(HCAM h, int32_t, char*) {
  return Record("is_LockSeqBuf", std::to_string(h));
}
FAKE_EXPORT int32_t is_UnlockSeqBuf(HCAM h, int32_t, char*) {
  return Record("is_UnlockSeqBuf", std::to_string(h));
}
// Frame number 0 until fake_fill. The record is the program's layout, of its
// size only; with FAKE_OWN_RECORD_BYTES it is a larger one of the driver's
// own, written whole whatever size the caller says.
FAKE_EXPORT int32_t is_GetImageInfo(HCAM h, int32_t id, void* pInfo, int32_t nSize) {
  const int32_t result = Record("is_GetImageInfo", Numbers({double(h), double(id)}));
  std::lock_guard lock(State().mutex);
  const std::pair<uint64_t, uint64_t> frame = State().frames[id];
#ifdef FAKE_OWN_RECORD_BYTES
  (void)nSize;
  unsigned char record[FAKE_OWN_RECORD_BYTES] = {};
  std::memcpy(record + FAKE_OWN_RECORD_BYTES - 8, &frame.first, 8);
  std::memcpy(pInfo, record, sizeof record);
#else
  struct {
    uint32_t flags;
    uint32_t reserved;
    uint64_t time;
    uint64_t number;
  } record{0, 0, frame.second, frame.first};
  if (nSize != static_cast<int32_t>(sizeof record)) return 125;
  std::memcpy(pInfo, &record, sizeof record);
#endif
  return result;
}
FAKE_EXPORT int32_t is_GetImageMemPitch(HCAM h, int32_t* pPitch) {
  const int32_t result = Record("is_GetImageMemPitch", std::to_string(h));
  std::lock_guard lock(State().mutex);
  if (result == 0) *pPitch = State().pitch;
  return result;
}
FAKE_EXPORT int32_t is_SetImageSize(HCAM h, int32_t w, int32_t height) {
  return Record("is_SetImageSize", Numbers({double(h), double(w), double(height)}));
}
FAKE_EXPORT int32_t is_SetImagePos(HCAM h, int32_t x, int32_t y) {
  return Record("is_SetImagePos", Numbers({double(h), double(x), double(y)}));
}
FAKE_EXPORT int32_t is_SetColorMode(HCAM h, int32_t mode) {
  return Record("is_SetColorMode", Numbers({double(h), double(mode)}));
}
FAKE_EXPORT int32_t is_GetColorDepth(HCAM h, int32_t*, int32_t*) {
  return Record("is_GetColorDepth", std::to_string(h));
}
FAKE_EXPORT int32_t is_SetCaptureMode(HCAM h, int32_t mode) {
  return Record("is_SetCaptureMode", Numbers({double(h), double(mode)}));
}
FAKE_EXPORT int32_t is_SetDisplayMode(HCAM h, int32_t mode) {
  return Record("is_SetDisplayMode", Numbers({double(h), double(mode)}));
}
FAKE_EXPORT int32_t is_SetVideoMode(HCAM h, int32_t mode) {
  return Record("is_SetVideoMode", Numbers({double(h), double(mode)}));
}
FAKE_EXPORT int32_t is_SetVideoInput(HCAM h, int32_t input) {
  return Record("is_SetVideoInput", Numbers({double(h), double(input)}));
}
FAKE_EXPORT int32_t is_CaptureVideo(HCAM h, int32_t wait) {
  return Record("is_CaptureVideo", Numbers({double(h), double(wait)}));
}
FAKE_EXPORT int32_t is_StopLiveVideo(HCAM h, int32_t wait) {
  return Record("is_StopLiveVideo", Numbers({double(h), double(wait)}));
}
FAKE_EXPORT int32_t is_FreezeVideo(HCAM h, int32_t wait) {
  return Record("is_FreezeVideo", Numbers({double(h), double(wait)}));
}
FAKE_EXPORT int32_t is_ForceTrigger(HCAM h) { return Record("is_ForceTrigger", std::to_string(h)); }
FAKE_EXPORT int32_t is_SetExternalTrigger(HCAM h, int32_t mode) {
  return Record("is_SetExternalTrigger", Numbers({double(h), double(mode)}));
}
FAKE_EXPORT int32_t is_InitEvent(HCAM h, int32_t fd, int32_t which) {
  return Record("is_InitEvent", Numbers({double(h), fd >= 0 ? 1.0 : -1.0, double(which)}));
}
FAKE_EXPORT int32_t is_EnableEvent(HCAM h, int32_t which) {
  return Record("is_EnableEvent", Numbers({double(h), double(which)}));
}
FAKE_EXPORT int32_t is_DisableEvent(HCAM h, int32_t which) {
  return Record("is_DisableEvent", Numbers({double(h), double(which)}));
}
FAKE_EXPORT int32_t is_GetVsyncCount(HCAM h, int32_t*, int32_t*) {
  return Record("is_GetVsyncCount", std::to_string(h));
}
FAKE_EXPORT int32_t is_GetCurrentField(HCAM h, int32_t*) {
  return Record("is_GetCurrentField", std::to_string(h));
}
FAKE_EXPORT int32_t is_SetRopEffect(HCAM h, int32_t, int32_t, int32_t) {
  return Record("is_SetRopEffect", std::to_string(h));
}
FAKE_EXPORT int32_t is_SetBrightness(HCAM h, int32_t v) {
  return Record("is_SetBrightness", Numbers({double(h), double(v)}));
}
FAKE_EXPORT int32_t is_SetContrast(HCAM h, int32_t v) {
  return Record("is_SetContrast", Numbers({double(h), double(v)}));
}
FAKE_EXPORT int32_t is_SetSaturation(HCAM h, int32_t v) {
  return Record("is_SetSaturation", Numbers({double(h), double(v)}));
}
FAKE_EXPORT int32_t is_SetWhiteBalance(HCAM h, int32_t mode) {
  return Record("is_SetWhiteBalance", Numbers({double(h), double(mode)}));
}
FAKE_EXPORT int32_t is_SetFrameRate(HCAM h, double fps, double* pNewFps) {
  const int32_t result = Record("is_SetFrameRate", Numbers({double(h), fps}));
  if (result == 0) *pNewFps = fps / 2;  // a rate the driver chose, not the one asked for
  return result;
}
FAKE_EXPORT int32_t is_GetFrameTimeRange(HCAM h, double* pMin, double* pMax, double* pStep) {
  const int32_t result = Record("is_GetFrameTimeRange", std::to_string(h));
  std::lock_guard lock(State().mutex);
  if (result != 0) return result;
  *pMin = State().frameTimes[0];
  *pMax = State().frameTimes[1];
  *pStep = State().frameTimes[2];
  return 0;
}
FAKE_EXPORT int32_t is_SetExposureTime(HCAM h, double ms, double* pNewMs) {
  const int32_t result = Record("is_SetExposureTime", Numbers({double(h), ms}));
  if (result == 0) *pNewMs = ms / 2;
  return result;
}
FAKE_EXPORT int32_t is_GetExposureRange(HCAM h, double* pMin, double* pMax, double* pStep) {
  const int32_t result = Record("is_GetExposureRange", std::to_string(h));
  if (result != 0) return result;
  *pMin = 0.5;
  *pMax = 30.0;
  *pStep = 0.25;
  return 0;
}
FAKE_EXPORT int32_t is_SetPixelClock(HCAM h, int32_t mhz) {
  return Record("is_SetPixelClock", Numbers({double(h), double(mhz)}));
}
FAKE_EXPORT int32_t is_GetPixelClockRange(HCAM h, int32_t* pMin, int32_t* pMax) {
  const int32_t result = Record("is_GetPixelClockRange", std::to_string(h));
  if (result != 0) return result;
  *pMin = 5;
  *pMax = 40;
  return 0;
}
FAKE_EXPORT int32_t is_SetScaler(HCAM h, float sx, float sy) {
  return Record("is_SetScaler", Numbers({double(h), double(sx), double(sy)}));
}
