#pragma once

// C interface of the stand-in camera driver (libuEye_api.so) and frame-grabber
// driver (libfalcon.so). Both libraries share the argument conventions; each
// exports its own subset, plus the stereo_sim_* queries of the simulated rig.

#include <cstdint>

#define SIM_DRIVER_EXPORT __attribute__((visibility("default")))

using HCAM = uint32_t;

// Result codes.
inline constexpr int32_t IS_SUCCESS = 0;
inline constexpr int32_t IS_NO_SUCCESS = -1;
inline constexpr int32_t IS_INVALID_HANDLE = 1;
inline constexpr int32_t IS_CANT_OPEN_DEVICE = 3;
inline constexpr int32_t IS_INVALID_PARAMETER = 125;

// Colour modes.
inline constexpr int32_t IS_CM_BGRX32 = 0;
inline constexpr int32_t IS_CM_BGR24 = 1;
inline constexpr int32_t IS_CM_MONO8 = 6;

// Event ids and trigger modes.
inline constexpr int32_t IS_SET_EVENT_FRAME = 2;
inline constexpr int32_t IS_SET_EVENT_BOARD_FRAME = 4;
inline constexpr int32_t IS_SET_TRIGGER_OFF = 0;
inline constexpr int32_t IS_SET_TRIGGER_SOFTWARE = 8;
inline constexpr int32_t IS_SET_DM_DIB = 1;

// Camera list record: a count followed by room for 16 entries.
inline constexpr int kCameraListEntrySize = 112;
inline constexpr int kCameraListModelOffset = 32;
inline constexpr int kCameraListModelSize = 16;
inline constexpr int kCameraListCapacity = 16;

// Ground truth of one simulated camera at one image size. Rotation (Rodrigues
// vector) and translation (mm) map camera 1 coordinates into this camera's:
// X_cam = R * X_cam1 + T, as OpenCV's stereo calibration reports them.
struct StereoSimCameraModel {
  int32_t width;
  int32_t height;
  double fx, fy, cx, cy;
  double k1, k2, p1, p2;
  double rotation[3];
  double translation[3];
};

// The calibration target: inner corners per row and column, square size (mm).
struct StereoSimBoard {
  int32_t inner_columns;
  int32_t inner_rows;
  double square_mm;
};

extern "C" {

// Camera library only.
SIM_DRIVER_EXPORT int32_t is_InitCamera(HCAM* phCam, void* hWnd);
SIM_DRIVER_EXPORT int32_t is_ExitCamera(HCAM hCam);
SIM_DRIVER_EXPORT int32_t is_GetNumberOfCameras(int32_t* pCount);
SIM_DRIVER_EXPORT int32_t is_GetCameraList(void* record);
SIM_DRIVER_EXPORT int32_t is_GetCurrentField(HCAM hCam, int32_t* pField);
SIM_DRIVER_EXPORT int32_t is_SetFrameRate(HCAM hCam, double fps, double* pNewFps);
SIM_DRIVER_EXPORT int32_t is_GetFrameTimeRange(HCAM hCam, double* pMin, double* pMax, double* pStep);
SIM_DRIVER_EXPORT int32_t is_SetExposureTime(HCAM hCam, double ms, double* pNewMs);
SIM_DRIVER_EXPORT int32_t is_GetExposureRange(HCAM hCam, double* pMin, double* pMax, double* pStep);
SIM_DRIVER_EXPORT int32_t is_SetPixelClock(HCAM hCam, int32_t mhz);
SIM_DRIVER_EXPORT int32_t is_GetPixelClockRange(HCAM hCam, int32_t* pMin, int32_t* pMax);
SIM_DRIVER_EXPORT int32_t is_SetWhiteBalance(HCAM hCam, int32_t mode);
SIM_DRIVER_EXPORT int32_t is_SetExternalTrigger(HCAM hCam, int32_t mode);
SIM_DRIVER_EXPORT int32_t is_ForceTrigger(HCAM hCam);
SIM_DRIVER_EXPORT int32_t is_FreezeVideo(HCAM hCam, int32_t wait);

// Frame-grabber library only.
SIM_DRIVER_EXPORT int32_t is_InitBoard(HCAM* phBoard, void* hWnd);
SIM_DRIVER_EXPORT int32_t is_ExitBoard(HCAM hBoard);
SIM_DRIVER_EXPORT int32_t is_SetVideoMode(HCAM hCam, int32_t mode);
SIM_DRIVER_EXPORT int32_t is_SetScaler(HCAM hCam, float sx, float sy);

// Both libraries.
SIM_DRIVER_EXPORT int32_t is_GetColorDepth(HCAM hCam, int32_t* pBits, int32_t* pMode);
SIM_DRIVER_EXPORT int32_t is_AllocImageMem(HCAM hCam, int32_t w, int32_t h, int32_t bitsPerPixel,
                                           char** ppMem, int32_t* pId);
SIM_DRIVER_EXPORT int32_t is_SetImageMem(HCAM hCam, char* pMem, int32_t id);
SIM_DRIVER_EXPORT int32_t is_FreeImageMem(HCAM hCam, char* pMem, int32_t id);
SIM_DRIVER_EXPORT int32_t is_GetImageMem(HCAM hCam, void** ppMem);
SIM_DRIVER_EXPORT int32_t is_GetImageMemPitch(HCAM hCam, int32_t* pPitch);
SIM_DRIVER_EXPORT int32_t is_SetImageSize(HCAM hCam, int32_t w, int32_t h);
SIM_DRIVER_EXPORT int32_t is_SetImagePos(HCAM hCam, int32_t x, int32_t y);
SIM_DRIVER_EXPORT int32_t is_SetColorMode(HCAM hCam, int32_t mode);
SIM_DRIVER_EXPORT int32_t is_SetCaptureMode(HCAM hCam, int32_t mode);
SIM_DRIVER_EXPORT int32_t is_SetDisplayMode(HCAM hCam, int32_t mode);
SIM_DRIVER_EXPORT int32_t is_CaptureVideo(HCAM hCam, int32_t wait);
SIM_DRIVER_EXPORT int32_t is_StopLiveVideo(HCAM hCam, int32_t wait);
SIM_DRIVER_EXPORT int32_t is_GetVsyncCount(HCAM hCam, int32_t* pIntr, int32_t* pActIntr);
SIM_DRIVER_EXPORT int32_t is_SetRopEffect(HCAM hCam, int32_t effect, int32_t param, int32_t reserved);
SIM_DRIVER_EXPORT int32_t is_SetVideoInput(HCAM hCam, int32_t input);
SIM_DRIVER_EXPORT int32_t is_SetBrightness(HCAM hCam, int32_t v);
SIM_DRIVER_EXPORT int32_t is_SetContrast(HCAM hCam, int32_t v);
SIM_DRIVER_EXPORT int32_t is_SetSaturation(HCAM hCam, int32_t v);
SIM_DRIVER_EXPORT int32_t is_InitEvent(HCAM hCam, int32_t eventFd, int32_t which);
SIM_DRIVER_EXPORT int32_t is_EnableEvent(HCAM hCam, int32_t which);
SIM_DRIVER_EXPORT int32_t is_DisableEvent(HCAM hCam, int32_t which);

// Ground truth of the simulated rig, in both libraries. The frame grabber's
// camera is camera 1 of the rig.
SIM_DRIVER_EXPORT int32_t stereo_sim_GetCameraModel(uint32_t cameraId, int32_t width, int32_t height,
                                                    StereoSimCameraModel* pModel);
SIM_DRIVER_EXPORT int32_t stereo_sim_GetBoard(StereoSimBoard* pBoard);
// Puts the scene of this library at a moment of scene time (seconds). With
// STEREO_SIM_SCENE_SPEED=0 the scene then holds still there: a test's way to
// pick poses without waiting for them.
SIM_DRIVER_EXPORT int32_t stereo_sim_SetSceneTime(double seconds);
// How many failures STEREO_SIM_FAIL has injected in this library since its
// rules last changed (they are taken up when a camera is counted or opened).
SIM_DRIVER_EXPORT int32_t stereo_sim_FaultsInjected(int32_t* pCount);
// Writes the rig as an OpenCV YAML file (K1, D1, K2, D2, R, T, image size).
SIM_DRIVER_EXPORT int32_t stereo_sim_WriteRigFile(const char* path, int32_t width, int32_t height);
// Depth truth at the library's scene time, for the rendered sources (board,
// still board, scene): depth in mm along camera n's optical axis of each pixel
// of its image at width x height (binned and cropped as the camera reads it
// out), row by row into depth_mm[width * height]; 0 where the pixel sees
// nothing. -1 for replayed pairs.
SIM_DRIVER_EXPORT int32_t stereo_sim_GetDepthTruth(uint32_t cameraId, int32_t width, int32_t height,
                                                   float* depth_mm);
// Disparity truth of a rectified pair of cameras 1 and 2 at width x height,
// given its rectification as cv::stereoRectify gives it (K 3x3 and R 3x3 row
// by row, D = k1 k2 p1 p2, P 3x4 row by row; an estimate will do): for each
// pixel of the rectified left image, u minus the column where the scene point
// camera 1 sees there lands in the rectified right image, through the rig's
// true geometry. NaN where camera 1 sees nothing there or camera 2 cannot see
// that point (hidden behind a nearer surface, or outside its image).
SIM_DRIVER_EXPORT int32_t stereo_sim_GetRectifiedDisparityTruth(
    int32_t width, int32_t height, const double* K1, const double* D1, const double* R1, const double* P1,
    const double* K2, const double* D2, const double* R2, const double* P2, float* disparity);

}  // extern "C"
