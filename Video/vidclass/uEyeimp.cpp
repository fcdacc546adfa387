#include "Video/vidclass/uEyeimp.h"

#include "Video/vidclass/driver_binding.h"

namespace uEyeimp {
namespace {

using driver_binding::AssignEntry;
using Symbol = driver_binding::Symbol<Functions>;
constexpr bool kCalled = true;
constexpr bool kUnused = false;
// Beyond the names every driver has: without them a device keeps one image
// memory.
constexpr bool kOptional = false;

// Every name of the library in lookup order: the names every camera driver
// has, then the sequence calls.
const Symbol kSymbols[] = {
    {{"is_InitCamera", kCalled}, AssignEntry<&Functions::is_InitCamera>},
    {{"is_GetColorDepth", kUnused}, AssignEntry<&Functions::is_GetColorDepth>},
    {{"is_AllocImageMem", kCalled}, AssignEntry<&Functions::is_AllocImageMem>},
    {{"is_SetImageMem", kCalled}, AssignEntry<&Functions::is_SetImageMem>},
    {{"is_SetImageSize", kCalled}, AssignEntry<&Functions::is_SetImageSize>},
    {{"is_SetImagePos", kCalled}, AssignEntry<&Functions::is_SetImagePos>},
    {{"is_GetImageMemPitch", kCalled}, AssignEntry<&Functions::is_GetImageMemPitch>},
    {{"is_SetColorMode", kCalled}, AssignEntry<&Functions::is_SetColorMode>},
    {{"is_SetCaptureMode", kUnused}, AssignEntry<&Functions::is_SetCaptureMode>},
    {{"is_SetDisplayMode", kCalled}, AssignEntry<&Functions::is_SetDisplayMode>},
    {{"is_GetImageMem", kCalled}, AssignEntry<&Functions::is_GetImageMem>},
    {{"is_CaptureVideo", kCalled}, AssignEntry<&Functions::is_CaptureVideo>},
    {{"is_StopLiveVideo", kCalled}, AssignEntry<&Functions::is_StopLiveVideo>},
    {{"is_FreeImageMem", kCalled}, AssignEntry<&Functions::is_FreeImageMem>},
    {{"is_ExitCamera", kCalled}, AssignEntry<&Functions::is_ExitCamera>},
    {{"is_GetVsyncCount", kUnused}, AssignEntry<&Functions::is_GetVsyncCount>},
    {{"is_GetCurrentField", kUnused}, AssignEntry<&Functions::is_GetCurrentField>},
    {{"is_SetRopEffect", kUnused}, AssignEntry<&Functions::is_SetRopEffect>},
    {{"is_SetVideoInput", kUnused}, AssignEntry<&Functions::is_SetVideoInput>},
    {{"is_SetBrightness", kCalled}, AssignEntry<&Functions::is_SetBrightness>},
    {{"is_SetContrast", kCalled}, AssignEntry<&Functions::is_SetContrast>},
    {{"is_SetSaturation", kUnused}, AssignEntry<&Functions::is_SetSaturation>},
    {{"is_SetFrameRate", kCalled}, AssignEntry<&Functions::is_SetFrameRate>},
    {{"is_GetFrameTimeRange", kCalled}, AssignEntry<&Functions::is_GetFrameTimeRange>},
    {{"is_SetExposureTime", kCalled}, AssignEntry<&Functions::is_SetExposureTime>},
    {{"is_GetExposureRange", kCalled}, AssignEntry<&Functions::is_GetExposureRange>},
    {{"is_SetPixelClock", kCalled}, AssignEntry<&Functions::is_SetPixelClock>},
    {{"is_GetPixelClockRange", kCalled}, AssignEntry<&Functions::is_GetPixelClockRange>},
    {{"is_GetNumberOfCameras", kCalled}, AssignEntry<&Functions::is_GetNumberOfCameras>},
    {{"is_SetWhiteBalance", kUnused}, AssignEntry<&Functions::is_SetWhiteBalance>},
    {{"is_GetCameraList", kCalled}, AssignEntry<&Functions::is_GetCameraList>},
    {{"is_SetExternalTrigger", kCalled}, AssignEntry<&Functions::is_SetExternalTrigger>},
    {{"is_ForceTrigger", kUnused}, AssignEntry<&Functions::is_ForceTrigger>},
    {{"is_FreezeVideo", kCalled}, AssignEntry<&Functions::is_FreezeVideo>},
    {{"is_InitEvent", kCalled}, AssignEntry<&Functions::is_InitEvent>},
    {{"is_EnableEvent", kCalled}, AssignEntry<&Functions::is_EnableEvent>},
    {{"is_DisableEvent", kCalled}, AssignEntry<&Functions::is_DisableEvent>},
    {{"is_AddToSequence", kOptional}, AssignEntry<&Functions::is_AddToSequence>},
    {{"is_ClearSequence", kOptional}, AssignEntry<&Functions::is_ClearSequence>},
    {{"is_GetActSeqBuf", kOptional}, AssignEntry<&Functions::is_GetActSeqBuf>},
    {{"is_LockSeqBuf", kOptional}, AssignEntry<&Functions::is_LockSeqBuf>},
    {{"is_UnlockSeqBuf", kOptional}, AssignEntry<&Functions::is_UnlockSeqBuf>},
    {{"is_GetImageInfo", kOptional}, AssignEntry<&Functions::is_GetImageInfo>},
};
static_assert(std::size(kSymbols) == 43);

driver_binding::Library<Functions> library;

}  // namespace

bool Load() { return LoadFrom("libuEye_api.so"); }
bool LoadFrom(const char* file_name) { return library.Load(file_name, kSymbols); }
void Release() { library.Release(); }
bool Loaded() { return library.Loaded(); }
const Functions& Api() { return library.Entries(); }

}  // namespace uEyeimp
