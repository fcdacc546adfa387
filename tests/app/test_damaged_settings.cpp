// Damaged Stereo.ini files: a fixed-seed generator of a thousand of them
// through the settings file code, and the file kinds that are not files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/Unit1.h"
#include "app/inifile.h"
#include "app/mode_settings.h"
#include "app_test_support.h"

namespace {

const char kValid[] =
    "[Mode]\nCam1=Rig - #1\nCam2=Rig - #2\nFramerate=7.5\nExposure=150\nFourCC=MJPG\n"
    "R1=0.5\nR2=0.25\nG1=0\nG2=1\nB1=0.1\nB2=0.9\n";
const char* const kKeys[] = {"Cam1", "Cam2", "Framerate", "Exposure", "FourCC", "R1",
                             "R2",   "G1",   "G2",        "B1",       "B2"};
const char* const kBadNumbers[] = {"1e400", "-1e400", "nan", "inf",   "99999999999", "-2147483649", "0x10",
                                   "1,5",   "",       "--3", "7.5.1", "1e-400",      "+",           " 2 "};

enum class Damage {
  RandomBytes,
  NulBytes,
  LongLine,
  DuplicateKeys,
  MisspelledKeys,
  BadNumbers,
  NoSection,
  Cut
};
constexpr int kDamages = 8;

// One damaged file; the same seed gives the same thousand files every run.
class DamagedFiles {
 public:
  explicit DamagedFiles(unsigned seed) : random_(seed) {}

  std::string Make(Damage damage) {
    std::string text = kValid;
    switch (damage) {
      case Damage::RandomBytes:
        text.clear();
        for (unsigned n = Below(2048); n > 0; --n) text += static_cast<char>(Below(256));
        break;
      case Damage::NulBytes:
        for (unsigned n = 1 + Below(8); n > 0; --n) text.insert(Below(text.size()), 1, '\0');
        break;
      case Damage::LongLine:
        // Rare: a 10 MB line costs more than the rest together.
        text.insert(Below(text.size()), std::string(Below(40) == 0 ? 10'000'000 : 70'000, 'A') + "=1\n");
        break;
      case Damage::DuplicateKeys:
        for (unsigned n = 1 + Below(6); n > 0; --n) text += std::string(Key()) + "=" + BadNumber() + "\n";
        break;
      case Damage::MisspelledKeys: {
        std::string key = Key();
        key[Below(key.size())] = static_cast<char>('a' + Below(26));
        text = "[Mode]\n" + key + "=" + BadNumber() + "\n" + text.substr(7);
        break;
      }
      case Damage::BadNumbers:
        text = "[Mode]\n";
        for (const char* key : kKeys) text += std::string(key) + "=" + BadNumber() + "\n";
        break;
      case Damage::NoSection:
        text = Below(2) == 0 ? text.substr(7) : "[Mdoe]\n" + text.substr(7);
        break;
      case Damage::Cut:
        text.resize(Below(text.size()));
        break;
    }
    return text;
  }

 private:
  size_t Below(size_t n) { return n == 0 ? 0 : random_() % n; }
  const char* Key() { return kKeys[Below(std::size(kKeys))]; }
  const char* BadNumber() { return kBadNumbers[Below(std::size(kBadNumbers))]; }
  std::mt19937 random_;
};

bool Printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

bool ValidSettings(const ModeSettings& settings) {
  bool valid = std::isfinite(settings.Framerate) && Printable(settings.FourCC);
  for (const std::string& factor : settings.Factors) valid = valid && ParseFloat(factor).has_value();
  return valid;
}

// Every line text, none longer than a setting can be, every key of the
// section once.
void ExpectValidFile(const std::string& path, const ModeSettings& written) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  int mode_keys = 0;
  bool in_mode = false;
  while (std::getline(file, line)) {
    ASSERT_LE(line.size(), TIniFile::kLongestLine);
    for (char c : line) ASSERT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\t') << path;
    if (line.starts_with("[")) in_mode = line == "[Mode]";
    // Keys match in any letter case; an existing spelling is kept.
    const QString text = QString::fromStdString(line);
    for (const char* key : kKeys)
      mode_keys += in_mode && text.startsWith(QString(key) + "=", Qt::CaseInsensitive);
  }
  EXPECT_EQ(mode_keys, static_cast<int>(std::size(kKeys)));
  TIniFile again(path);
  const ModeSettings read = ReadModeSettings(again);
  EXPECT_EQ(read.Framerate, written.Framerate);
  EXPECT_EQ(read.Exposure, written.Exposure);
  EXPECT_EQ(read.FourCC, written.FourCC);
  EXPECT_EQ(read.Factors, written.Factors);
}

std::string DamageName(const ::testing::TestParamInfo<Damage>& info) {
  const char* names[] = {"RandomBytes",    "NulBytes",   "LongLine",  "DuplicateKeys",
                         "MisspelledKeys", "BadNumbers", "NoSection", "Cut"};
  return names[static_cast<int>(info.param)];
}

class DamagedSettings : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedSettings, ReadGivesValidValuesAndTheFileWrittenIsValid) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Stereo.ini";
  DamagedFiles files(1234 + static_cast<unsigned>(GetParam()));
  for (int i = 0; i < 1000 / kDamages; ++i) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << files.Make(GetParam());
    TIniFile ini(path);
    const ModeSettings settings = ReadModeSettings(ini);
    ASSERT_TRUE(ValidSettings(settings)) << "case " << i;
    WriteModeSettings(ini, settings);
    ini.UpdateFile();
    ExpectValidFile(path, settings);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Generated, DamagedSettings,
                         ::testing::Values(Damage::RandomBytes, Damage::NulBytes, Damage::LongLine,
                                           Damage::DuplicateKeys, Damage::MisspelledKeys, Damage::BadNumbers,
                                           Damage::NoSection, Damage::Cut),
                         DamageName);

// What stands where the file should be, through the real window: it starts
// with the defaults and closes without crashing or hanging.
struct FileKind {
  const char* name;
  void (*make)(const std::string& path);
};

class SettingsFileKind : public ::testing::TestWithParam<FileKind> {};

TEST_P(SettingsFileKind, StartsWithDefaultsAndCloses) {
  ScopedSettingsFolder folder;
  GetParam().make(folder.SettingsFile());
  TakeShownErrors();
  {
    Windows windows;
    EXPECT_EQ(windows.form().tbExposure->value(), 10);
    EXPECT_EQ(windows.form().EdFourcc->text(), "XVID");
  }
  const QString shown = TakeShownErrors();
  EXPECT_TRUE(shown.isEmpty() || shown.contains("can not be written")) << shown.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    NotAFile, SettingsFileKind,
    ::testing::Values(
        FileKind{"Directory", [](const std::string& path) { std::filesystem::create_directory(path); }},
        FileKind{"Unreadable",
                 [](const std::string& path) {
                   std::ofstream(path) << "[Mode]\nExposure=33\n";
                   chmod(path.c_str(), 0);
                   // Root reads it anyway: then it is an ordinary file.
                   if (access(path.c_str(), R_OK) == 0) std::ofstream(path) << "[Mode]\nExposure=10\n";
                 }},
        FileKind{"Pipe", [](const std::string& path) { mkfifo(path.c_str(), 0600); }},
        FileKind{"LinkLoop", [](const std::string& path) { std::filesystem::create_symlink(path, path); }},
        FileKind{"EndlessDevice",
                 [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
