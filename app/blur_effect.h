#pragma once

// What an image effect bound to the "BlurSetup" dialog keeps and does for the
// dialog: its mode, function, sub-pixel switch, size and second parameter,
// each written back into the dialog as accepted. How the effect processes
// frames is its own; this part passes the pair on unchanged.

#include <cstdint>

#include "filters/vidfilters.h"

class TFoBlurSetup;

class TBlurEffect : public TVidFilter {
 public:
  explicit TBlurEffect(CreateKey key) : TVidFilter(key) {}
  ~TBlurEffect() override;

  // Binds this effect and the dialog to each other; null unbinds.
  void BindDialog(TFoBlurSetup* dialog);
  // Shows the bound dialog, modeless.
  void ShowSetup() override;

  // Mode index into the dialog's mode list; the dialog then shows that
  // mode's controls and functions, and the outputs are made anew.
  void SetBlurMode(int32_t index);
  void SetFunction(int32_t index);
  void SetSubPixel(bool flag);
  // The outputs are made anew for the new size.
  void SetSize(long double value);
  // The dialog's second parameter, beside the base's own.
  void SetParameter2(long double value);  // NOLINT(bugprone-virtual-near-miss)
  // Opens the "Source" window with the source image, for the sharpening of
  // mode "DFT" below size 1 only.
  void ShowSource();

  int32_t Mode = 0;
  int32_t Function = 0;
  bool SubPixel = false;
  // Written by the dialog directly.
  long double Smooth = 0;
  long double Size = 1;
  long double Parameter2 = 0;
  // The image the effect last worked on; not owned.
  IplImage* SourceImage = nullptr;
  // The bound dialog, not owned.
  TFoBlurSetup* Dialog = nullptr;
};
