#pragma once

// Binding of the Falcon frame-grabber library, libfalcon.so, loaded by name at
// start.

#include <cstdint>

#include "Video/vidclass/capture_sequence.h"

namespace falcimp {

using HCAM = uint32_t;

// Argument constants the program passes.
inline constexpr int32_t kFrameEvent = 4;
inline constexpr int32_t kVideoInput = 1;
inline constexpr int32_t kBoardWidth = 768;
inline constexpr int32_t kBoardHeight = 576;

// One entry per function of the library, all null while it is not loaded.
struct Functions {
  int32_t (*is_InitBoard)(HCAM* phBoard, void* hWnd) = nullptr;
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
  int32_t (*is_SetVideoMode)(HCAM, int32_t mode) = nullptr;
  int32_t (*is_GetImageMem)(HCAM, void** ppMem) = nullptr;
  int32_t (*is_CaptureVideo)(HCAM, int32_t wait) = nullptr;
  int32_t (*is_StopLiveVideo)(HCAM, int32_t wait) = nullptr;
  int32_t (*is_FreeImageMem)(HCAM, char* pMem, int32_t id) = nullptr;
  int32_t (*is_ExitBoard)(HCAM) = nullptr;
  int32_t (*is_GetVsyncCount)(HCAM, int32_t* pIntr, int32_t* pActIntr) = nullptr;
  int32_t (*is_SetRopEffect)(HCAM, int32_t effect, int32_t param, int32_t reserved) = nullptr;
  int32_t (*is_SetVideoInput)(HCAM, int32_t input) = nullptr;
  int32_t (*is_SetBrightness)(HCAM, int32_t v) = nullptr;
  int32_t (*is_SetContrast)(HCAM, int32_t v) = nullptr;
  int32_t (*is_SetSaturation)(HCAM, int32_t v) = nullptr;
  int32_t (*is_InitEvent)(HCAM, int32_t eventFd, int32_t which) = nullptr;
  int32_t (*is_EnableEvent)(HCAM, int32_t which) = nullptr;
  int32_t (*is_DisableEvent)(HCAM, int32_t which) = nullptr;
  int32_t (*is_AddToSequence)(HCAM, char* pcMem, int32_t nId) = nullptr;
  int32_t (*is_ClearSequence)(HCAM) = nullptr;
  int32_t (*is_GetActSeqBuf)(HCAM, int32_t* pnNum, char** ppcMem, char** ppcMemLast) = nullptr;
  int32_t (*is_LockSeqBuf)(HCAM, int32_t nNum, char* pcMem) = nullptr;
  int32_t (*is_UnlockSeqBuf)(HCAM, int32_t nNum, char* pcMem) = nullptr;
  int32_t (*is_GetImageInfo)(HCAM, int32_t nMemId, void* pInfo, int32_t nSize) = nullptr;
  int32_t (*is_SetScaler)(HCAM, float sx, float sy) = nullptr;
};

// Loads "libfalcon.so" from the normal search path. False when it does not
// load or lacks a function the program calls.
bool Load();
// The same with another file name (test libraries).
bool LoadFrom(const char* file_name);
void Release();
bool Loaded();
// The entries; all null while the library is not loaded.
const Functions& Api();

}  // namespace falcimp
