#pragma once

// Binding of the uEye camera driver, libuEye_api.so, loaded by name at start.

#include <cstdint>

#include "Video/vidclass/capture_sequence.h"

namespace uEyeimp {

using HCAM = uint32_t;

// Argument constants the program passes.
inline constexpr int32_t kFrameEvent = 2;
inline constexpr int32_t kSoftwareTrigger = 8;
inline constexpr int32_t kTriggerOff = 0;
inline constexpr int kMaxListedCameras = 16;

// One entry of the camera list record (112 bytes as the driver lays it out).
struct CameraInfo {
  uint32_t CameraId;
  uint8_t Reserved1[28];
  char Model[16];  // zero-terminated unless all 16 bytes are used
  uint8_t Reserved2[64];
};
static_assert(sizeof(CameraInfo) == 112);

// The record for is_GetCameraList; the caller presets Count.
struct CameraList {
  uint32_t Count;
  CameraInfo Info[kMaxListedCameras];
};
static_assert(sizeof(CameraList) == 4 + 16 * 112);

// One entry per function of the driver, all null while it is not loaded.
struct Functions {
  int32_t (*is_InitCamera)(HCAM* phCam, void* hWnd) = nullptr;
  int32_t (*is_GetColorDepth)(HCAM, int32_t* pBits, int32_t* pMode) = nullptr;
  int32_t (*is_AllocImageMem)(HCAM, int32_t w, int32_t h, int32_t bitsPerPixel, char** ppMem,
                              int32_t* pId) = nullptr;
  int32_t (*is_SetImageMem)(HCAM, char* pMem, int32_t id) = nullptr;
  int32_t (*is_SetImageSize)(HCAM, int32_t w, int32_t h) = nullptr;
  int32_t (*is_SetImagePos)(HCAM, int32_t x, int32_t y) = nullptr;
  int32_t (*is_GetImageMemPitch)(HCAM, int32_t* pPitch) = nullptr;
  int32_t (*is_SetColorMode)(HCAM, int32_t mode) = nullptr;
  int32_t (*is_SetCaptureMode)(HCAM, int32_t mode) = nullptr;
  int32_t (*is_SetDisplayMode)(HCAM, int32_t mode) = nullptr;
  int32_t (*is_GetImageMem)(HCAM, void** ppMem) = nullptr;
  int32_t (*is_CaptureVideo)(HCAM, int32_t wait) = nullptr;
  int32_t (*is_StopLiveVideo)(HCAM, int32_t wait) = nullptr;
  int32_t (*is_FreeImageMem)(HCAM, char* pMem, int32_t id) = nullptr;
  int32_t (*is_ExitCamera)(HCAM) = nullptr;
  int32_t (*is_GetVsyncCount)(HCAM, int32_t* pIntr, int32_t* pActIntr) = nullptr;
  int32_t (*is_GetCurrentField)(HCAM, int32_t* pField) = nullptr;
  int32_t (*is_SetRopEffect)(HCAM, int32_t effect, int32_t param, int32_t reserved) = nullptr;
  int32_t (*is_SetVideoInput)(HCAM, int32_t input) = nullptr;
  int32_t (*is_SetBrightness)(HCAM, int32_t v) = nullptr;
  int32_t (*is_SetContrast)(HCAM, int32_t v) = nullptr;
  int32_t (*is_SetSaturation)(HCAM, int32_t v) = nullptr;
  int32_t (*is_SetFrameRate)(HCAM, double fps, double* pNewFps) = nullptr;
  int32_t (*is_GetFrameTimeRange)(HCAM, double* pMin, double* pMax, double* pStep) = nullptr;
  int32_t (*is_SetExposureTime)(HCAM, double ms, double* pNewMs) = nullptr;
  int32_t (*is_GetExposureRange)(HCAM, double* pMin, double* pMax, double* pStep) = nullptr;
  int32_t (*is_SetPixelClock)(HCAM, int32_t mhz) = nullptr;
  int32_t (*is_GetPixelClockRange)(HCAM, int32_t* pMin, int32_t* pMax) = nullptr;
  int32_t (*is_GetNumberOfCameras)(int32_t* pCount) = nullptr;
  int32_t (*is_SetWhiteBalance)(HCAM, int32_t mode) = nullptr;
  int32_t (*is_GetCameraList)(void* record) = nullptr;
  int32_t (*is_SetExternalTrigger)(HCAM, int32_t mode) = nullptr;
  int32_t (*is_ForceTrigger)(HCAM) = nullptr;
  int32_t (*is_FreezeVideo)(HCAM, int32_t wait) = nullptr;
  int32_t (*is_InitEvent)(HCAM, int32_t eventFd, int32_t which) = nullptr;
  int32_t (*is_EnableEvent)(HCAM, int32_t which) = nullptr;
  int32_t (*is_DisableEvent)(HCAM, int32_t which) = nullptr;
  int32_t (*is_AddToSequence)(HCAM, char* pcMem, int32_t nId) = nullptr;
  int32_t (*is_ClearSequence)(HCAM) = nullptr;
  int32_t (*is_GetActSeqBuf)(HCAM, int32_t* pnNum, char** ppcMem, char** ppcMemLast) = nullptr;
  int32_t (*is_LockSeqBuf)(HCAM, int32_t nNum, char* pcMem) = nullptr;
  int32_t (*is_UnlockSeqBuf)(HCAM, int32_t nNum, char* pcMem) = nullptr;
  int32_t (*is_GetImageInfo)(HCAM, int32_t nMemId, void* pInfo, int32_t nSize) = nullptr;
};

// Loads "libuEye_api.so" from the normal search path. False when it does not
// load or lacks a function the program calls.
bool Load();
// The same with another file name (test libraries).
bool LoadFrom(const char* file_name);
void Release();
bool Loaded();
// The entries; all null while the library is not loaded.
const Functions& Api();

}  // namespace uEyeimp
