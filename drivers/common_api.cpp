// The calls that cameras and the frame-grabber board answer alike.
#include "drivers/library_devices.h"

using sim::LibraryDevices;
using sim::SimDevice;
using sim::WithDevice;

extern "C" {

int32_t is_GetColorDepth(HCAM h, int32_t* pBits, int32_t* pMode) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.ColorDepth(pBits, pMode); });
}

int32_t is_AllocImageMem(HCAM h, int32_t w, int32_t height, int32_t bitsPerPixel, char** ppMem,
                         int32_t* pId) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.AllocMemory(w, height, bitsPerPixel, ppMem, pId); });
}

int32_t is_SetImageMem(HCAM h, char* pMem, int32_t id) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetActiveMemory(pMem, id); });
}

int32_t is_FreeImageMem(HCAM h, char* pMem, int32_t id) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.FreeMemory(pMem, id); });
}

int32_t is_GetImageMem(HCAM h, void** ppMem) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.ActiveMemory(ppMem); });
}

int32_t is_GetImageMemPitch(HCAM h, int32_t* pPitch) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.ActivePitch(pPitch); });
}

int32_t is_SetImageSize(HCAM h, int32_t w, int32_t height) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetImageSize(w, height); });
}

int32_t is_SetImagePos(HCAM h, int32_t x, int32_t y) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetImagePos(x, y); });
}

int32_t is_SetColorMode(HCAM h, int32_t mode) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetColorMode(mode); });
}

int32_t is_SetCaptureMode(HCAM h, int32_t mode) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice&) { return mode >= 0 ? IS_SUCCESS : IS_INVALID_PARAMETER; });
}

int32_t is_SetDisplayMode(HCAM h, int32_t mode) {
  // Only device-independent bitmaps: the driver never draws on screen.
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice&) { return mode == IS_SET_DM_DIB ? IS_SUCCESS : IS_INVALID_PARAMETER; });
}

int32_t is_CaptureVideo(HCAM h, int32_t) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.StartLive(); });
}

int32_t is_StopLiveVideo(HCAM h, int32_t) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.StopLive(); });
}

int32_t is_GetVsyncCount(HCAM h, int32_t* pIntr, int32_t* pActIntr) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.FrameCounts(pIntr, pActIntr); });
}

int32_t is_SetRopEffect(HCAM h, int32_t effect, int32_t param, int32_t) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice&) {
    return effect >= 0 && (param == 0 || param == 1) ? IS_SUCCESS : IS_INVALID_PARAMETER;
  });
}

int32_t is_SetVideoInput(HCAM h, int32_t input) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetVideoInput(input); });
}

int32_t is_SetBrightness(HCAM h, int32_t v) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetBrightness(v); });
}

int32_t is_SetContrast(HCAM h, int32_t v) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetContrast(v); });
}

int32_t is_SetSaturation(HCAM h, int32_t v) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.SetSaturation(v); });
}

int32_t is_InitEvent(HCAM h, int32_t eventFd, int32_t which) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.InitEvent(eventFd, which); });
}

int32_t is_EnableEvent(HCAM h, int32_t which) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.EnableEvent(which); });
}

int32_t is_DisableEvent(HCAM h, int32_t which) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.DisableEvent(which); });
}

int32_t is_AddToSequence(HCAM h, char* pcMem, int32_t nId) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.AddToSequence(pcMem, nId); });
}

int32_t is_ClearSequence(HCAM h) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.ClearSequence(); });
}

int32_t is_GetActSeqBuf(HCAM h, int32_t* pnNum, char** ppcMem, char** ppcMemLast) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.ActiveSequenceMemory(pnNum, ppcMem, ppcMemLast); });
}

int32_t is_LockSeqBuf(HCAM h, int32_t nNum, char* pcMem) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.LockSequenceMemory(nNum, pcMem, true); });
}

int32_t is_UnlockSeqBuf(HCAM h, int32_t nNum, char* pcMem) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.LockSequenceMemory(nNum, pcMem, false); });
}

int32_t is_GetImageInfo(HCAM h, int32_t nMemId, UEYEIMAGEINFO* pInfo, int32_t nSize) {
  return WithDevice(__func__, LibraryDevices(), h,
                    [&](SimDevice& d) { return d.ImageInfo(nMemId, pInfo, nSize); });
}

int32_t stereo_sim_FramesDropped(HCAM h, int32_t* pCount) {
  return WithDevice(__func__, LibraryDevices(), h, [&](SimDevice& d) { return d.FramesDropped(pCount); });
}

}  // extern "C"
