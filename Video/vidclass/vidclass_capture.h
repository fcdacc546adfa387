#pragma once

// The part of Init that the uEye and Falcon kinds share: both drivers bind
// one image memory through the same calls, and Image becomes a header over it.

#include <cstdint>
#include <memory>
#include <string>

#include "Video/vidclass/capture_sequence.h"
#include "Video/vidclass/driver_binding.h"
#include "Video/vidclass/vidclass.h"
#include "Video/vidclass/vidclass_values.h"

// Log line texts of one kind; each is followed by the call's result.
struct CaptureLogTexts {
  const char* Channels;
  const char* Alloc;
  const char* SetMem;
  const char* SetSize;
  const char* ColorMode;
  const char* Display;
  const char* GetMem;
  const char* Sequence;
};

// Result recorded when Channels asks for a format no driver delivers (the
// drivers' own "invalid parameter" code).
inline constexpr int32_t kUnsupportedChannels = 125;
inline constexpr int32_t kDisplayModeDib = 1;

// Records a driver call's result and its log line; returns the result.
inline int32_t LogResult(tVideoDevice& device, const char* text, int32_t result,
                         const std::string& suffix = {}) {
  device.LastResult = result;
  device.Log.push_back(ResultLine(text, result) + suffix);
  return result;
}

// Registers the bound memory and further ones as the driver's sequence, so
// the window holds whole frames. A driver without the sequence calls, or one
// that refuses, leaves the one memory, read as it is filled, with a line in
// the log.
template <class Api>
void BuildSequence(tVideoDevice& device, const Api& api, const CaptureLogTexts& texts, int32_t memoryId,
                   int32_t bitsPerPixel) {
  const SequenceCalls calls{api.is_AllocImageMem, api.is_FreeImageMem, api.is_AddToSequence,
                            api.is_ClearSequence, api.is_GetActSeqBuf, api.is_LockSeqBuf,
                            api.is_UnlockSeqBuf,  api.is_GetImageInfo};
  // The ring of an earlier Init is cleared before the new one is registered.
  device.Frames.reset();
  if (calls.AddToSequence == nullptr || calls.ClearSequence == nullptr || calls.GetActSeqBuf == nullptr ||
      calls.LockSeqBuf == nullptr || calls.UnlockSeqBuf == nullptr) {
    device.Log.push_back(std::string(texts.Sequence) + "not offered by the driver: one image memory");
    return;
  }
  auto sequence = std::make_unique<CaptureSequence>(device.Handle, calls, *device.Image);
  const int32_t built = sequence->Build(device.Image->imageData, memoryId, bitsPerPixel);
  if (built != 0) {
    device.Log.push_back(ResultLine(texts.Sequence, built));
    return;
  }
  if (!sequence->KnowsDriverRecord())
    device.Log.push_back(std::string(texts.Sequence) + "frames numbered as they arrive");
  device.Frames = std::move(sequence);
}

// Makes Image for Width x Height x Channels and binds the driver's image
// memory to it, one log line per call. False when Init must stop there.
template <class Api>
bool BindCaptureMemory(tVideoDevice& device, const Api& api, const CaptureLogTexts& texts, int32_t& memoryId,
                       int32_t& colorMode, int32_t& bitsPerPixel) {
  using driver_binding::Call;
  // Channel counts the drivers cannot deliver make no header; the memory
  // request then goes out with 0 bits per pixel, which the driver refuses.
  CaptureFormat format;
  const bool deliverable = CaptureFormatForChannels(device.Channels, format);
  colorMode = format.ColorMode;
  bitsPerPixel = format.BitsPerPixel;
  ReleaseImage(&device.Image);
  if (deliverable) device.Image = CreateFrameHeader(device.Width, device.Height, device.Channels);
  const uint32_t handle = device.Handle;

  const int32_t allocated = Call(api.is_AllocImageMem, handle, device.Width, device.Height, bitsPerPixel,
                                 &device.ImageMemory, &memoryId);
  if (LogResult(device, texts.Alloc, allocated, " " + HexAddress(device.ImageMemory) + " 0") != 0)
    return false;
  if (!deliverable) {
    // A driver that took the request anyway: without a header there is
    // nothing to point at its memory.
    device.LastResult = kUnsupportedChannels;
    device.Log.push_back(texts.Channels + std::to_string(device.Channels) + " not supported");
    return false;
  }
  if (LogResult(device, texts.SetMem, Call(api.is_SetImageMem, handle, device.ImageMemory, memoryId)) != 0)
    return false;
  if (LogResult(device, texts.SetSize, Call(api.is_SetImageSize, handle, device.Width, device.Height)) != 0)
    return false;
  LogResult(device, texts.ColorMode, Call(api.is_SetColorMode, handle, colorMode));
  if (LogResult(device, texts.Display, Call(api.is_SetDisplayMode, handle, kDisplayModeDib)) != 0)
    return false;

  void* pixels = nullptr;
  const int32_t found = Call(api.is_GetImageMem, handle, &pixels);
  device.Image->imageData = static_cast<char*>(pixels);
  if (pixels != nullptr) device.Image->imageDataOrigin = static_cast<char*>(pixels);
  LogResult(device, texts.GetMem, found, " " + HexAddress(pixels));

  int32_t pitch = 0;
  device.LastResult = Call(api.is_GetImageMemPitch, handle, &pitch);
  if (pitch > 0) {
    device.Image->widthStep = pitch;
    device.Image->imageSize = pitch * device.Height;
  }
  if (pixels != nullptr) BuildSequence(device, api, texts, memoryId, bitsPerPixel);
  return true;
}
