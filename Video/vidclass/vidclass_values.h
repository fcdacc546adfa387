#pragma once

// Value conversions shared by the device kinds.

#include <cstdint>
#include <string>

#include "Video/vidclass/ipl.h"
#include "Video/vidclass/vidclass.h"

// Nearest integer, halves to the even neighbour; NaN gives 0 and values
// beyond the 32-bit range are clamped.
int32_t RoundHalfEven(double value);

// The low 32 bits of an address as 8 upper-case hexadecimal digits, as the
// initialisation log writes addresses.
std::string HexAddress(const void* address);

// A frame-time range in seconds as a frame-rate range: (1 / longest,
// 1 / shortest, step). The step stays a frame-time step. A zero time gives
// rate 0 instead of a division by zero.
ValueRange FrameRateRangeFromFrameTimes(double shortest_s, double longest_s, double step_s);

// Driver colour mode, bits per pixel and image header for a channel count.
struct CaptureFormat {
  int32_t ColorMode = 0;
  int32_t BitsPerPixel = 0;
};
// False for channel counts the drivers cannot deliver (only 1, 3 and 4 are).
bool CaptureFormatForChannels(int32_t channels, CaptureFormat& format);
// A header without pixels for the driver's memory: 1 channel "GRAY", 3
// channels "RGB"/"BGR", 4 channels "RGBA"/"BGRA"; null for other counts.
IplImage* CreateFrameHeader(int32_t width, int32_t height, int32_t channels);

// Fills every pixel; a header without pixels is left alone.
void FillFrame(IplImage* image, int value);

// "<prefix><result>" as one initialisation log line.
std::string ResultLine(const char* prefix, int32_t result);
