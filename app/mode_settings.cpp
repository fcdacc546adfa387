#include "app/mode_settings.h"

#include <algorithm>

#include "app/inifile.h"

namespace {

const char kSection[] = "Mode";

// A codec code is four letters of ASCII text; anything else is damage.
bool PrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

}  // namespace

const std::array<const char*, 6> kFactorKeys = {"R1", "R2", "G1", "G2", "B1", "B2"};

ModeSettings ReadModeSettings(TIniFile& ini) {
  ModeSettings settings;
  settings.Cam1 = ini.ReadString(kSection, "Cam1", settings.Cam1);
  settings.Cam2 = ini.ReadString(kSection, "Cam2", settings.Cam2);
  settings.Framerate = ini.ReadFloat(kSection, "Framerate", settings.Framerate);
  settings.Exposure = ini.ReadInteger(kSection, "Exposure", settings.Exposure);
  const std::string fourcc = ini.ReadString(kSection, "FourCC", settings.FourCC);
  if (PrintableAscii(fourcc)) settings.FourCC = fourcc;
  for (size_t i = 0; i < kFactorKeys.size(); ++i) {
    const std::string factor = ini.ReadString(kSection, kFactorKeys[i], settings.Factors[i]);
    if (ParseFloat(factor)) settings.Factors[i] = factor;
  }
  return settings;
}

void WriteModeSettings(TIniFile& ini, const ModeSettings& settings) {
  ini.WriteString(kSection, "Cam1", settings.Cam1);
  ini.WriteString(kSection, "Cam2", settings.Cam2);
  ini.WriteFloat(kSection, "Framerate", settings.Framerate);
  ini.WriteInteger(kSection, "Exposure", settings.Exposure);
  ini.WriteString(kSection, "FourCC", settings.FourCC);
  for (size_t i = 0; i < kFactorKeys.size(); ++i)
    ini.WriteString(kSection, kFactorKeys[i], settings.Factors[i]);
}
