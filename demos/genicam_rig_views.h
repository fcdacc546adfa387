#pragma once

// Test and demo support: Aravis's in-process fake cameras showing the
// simulated rig's views. Camera n of the fake listing (from 0) shows camera
// n + 1 of the rig, rendered by the stand-in rig's own renderer, at the
// region and pixel format set here; it takes one frame per software
// trigger, as a real camera does. Linked into tests and demos only: the
// program knows nothing but Aravis.

#include <chrono>
#include <cstdint>

namespace genicam_rig {

struct FakeRigSetUp {
  int Width = 640;
  int Height = 480;
  // A GenICam pixel format code the fakes offer (Mono8, Bayer*8, RGB8).
  uint32_t PixelFormat = 0x01080009;  // BayerRG8
  // Frame ticks per second in trigger mode: a trigger is served at the next
  // tick, so they come far faster than any trigger rate.
  double TriggerTicksPerSecond = 1000.0;
  // How long a triggered frame takes to expose and read out at least. A
  // trigger that comes meanwhile is ignored, as real cameras do.
  std::chrono::microseconds FrameBusy{0};
};

// From now on every fake camera the program opens shows the rig's view.
void ShowRigOnFakeCameras(const FakeRigSetUp& set_up = {});
// Fake cameras opened from now on show the library's own pattern again.
void StopShowingRig();

// Puts the views' scene at that moment; it runs on at
// STEREO_SIM_SCENE_SPEED (0 holds the pose).
void SetSceneTime(double seconds);

// Writes a colour image (rows of `pitch` bytes, blue first) as that Bayer
// pattern ("RG", "GB", "GR" or "BG": the first row's two colours).
void Mosaic(const uint8_t* bgr, int pitch, int width, int height, const char* pattern, uint8_t* out);

}  // namespace genicam_rig
