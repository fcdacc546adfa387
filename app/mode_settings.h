#pragma once

// The main window's section "Mode" of Stereo.ini as values: read with every
// damaged or unreadable value replaced by its default, written in the keys'
// fixed order.

#include <array>
#include <string>

class TIniFile;

struct ModeSettings {
  std::string Cam1;
  std::string Cam2;
  // Frames per second, finite; the window limits it to its slider.
  double Framerate = 100.0;
  int Exposure = 10;
  // Printable ASCII; the codec edit's mask cuts it to four characters.
  std::string FourCC = "XVID";
  // Anaglyph weights R1, R2, G1, G2, B1, B2, each a decimal number as text.
  std::array<std::string, 6> Factors = {"1.0", "0", "0", "1.0", "0", "1.0"};
};

// Keys of the anaglyph weights, in the order of ModeSettings::Factors.
extern const std::array<const char*, 6> kFactorKeys;

ModeSettings ReadModeSettings(TIniFile& ini);
void WriteModeSettings(TIniFile& ini, const ModeSettings& settings);
