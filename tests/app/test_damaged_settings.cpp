// Damaged Stereo.ini files: a fixed-seed generator of a thousand of them
// through the settings file code, and what may stand in the file's place.

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
#include <sstream>

#include "app/Unit1.h"
#include "app/inifile.h"
#include "app/mode_settings.h"
#include "app_test_support.h"

namespace {

const std::string kValid =
    "[Mode]\nCam1=Rig - #1\nCam2=Rig - #2\nFramerate=7.5\nExposure=150\nFourCC=MJPG\n"
    "R1=0.5\nR2=0.25\nG1=0\nG2=1\nB1=0.1\nB2=0.9\n";
const char* const kKeys[] = {"Cam1", "Cam2", "Framerate", "Exposure", "FourCC", "R1",
                             "R2",   "G1",   "G2",        "B1",       "B2"};
const char* const kBadNumbers[] = {"1e400", "-1e400", "nan", "inf",   "99999999999", "-2147483649", "0x10",
                                   "1,5",   "",       "--3", "7.5.1", "1e-400",      "+",           " 2 "};

// Same seed, same thousand files.
struct Random {
  std::mt19937 engine;
  size_t Below(size_t n) { return n == 0 ? 0 : engine() % n; }
  std::string Key() { return kKeys[Below(std::size(kKeys))]; }
  std::string Line() { return Key() + "=" + kBadNumbers[Below(std::size(kBadNumbers))] + "\n"; }
};

struct Damage {
  const char* name;
  std::string (*make)(Random& random);
};

const Damage kDamages[] = {
    {"RandomBytes",
     [](Random& r) {
       std::string text(r.Below(2048), '\0');
       for (char& c : text) c = static_cast<char>(r.Below(256));
       return text;
     }},
    {"NulBytes",
     [](Random& r) {
       std::string text = kValid;
       for (size_t n = 1 + r.Below(8); n > 0; --n) text.insert(r.Below(text.size()), 1, '\0');
       return text;
     }},
    // A 10 MB line now and then: it costs more than the rest together.
    {"LongLine",
     [](Random& r) {
       return kValid + std::string(r.Below(40) == 0 ? 10'000'000 : 70'000, 'A') + "=1\n" + r.Line();
     }},
    {"DuplicateKeys", [](Random& r) { return kValid + r.Line() + r.Line() + r.Line(); }},
    {"MisspelledKeys",
     [](Random& r) {
       std::string line = r.Line();
       line[r.Below(line.find('='))] = static_cast<char>('a' + r.Below(26));
       return "[Mode]\n" + line + kValid.substr(7);
     }},
    {"BadNumbers",
     [](Random& r) {
       std::string text = "[Mode]\n";
       for (size_t n = 0; n < std::size(kKeys); ++n) text += r.Line();
       return text;
     }},
    {"NoSection", [](Random& r) { return (r.Below(2) == 0 ? "" : "[Mdoe]\n") + kValid.substr(7); }},
    {"Cut", [](Random& r) { return kValid.substr(0, r.Below(kValid.size())); }},
};

// Text lines only, none longer than a setting, each key of the section once,
// read back as written.
void ExpectValidFile(const std::string& path, const ModeSettings& written) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  size_t keys = 0;
  bool mode = false;
  while (std::getline(file, line)) {
    ASSERT_LE(line.size(), TIniFile::kLongestLine);
    ASSERT_TRUE(
        std::none_of(line.begin(), line.end(), [](char c) { return c >= 0 && c < 0x20 && c != '\t'; }));
    if (line.starts_with("[")) mode = line == "[Mode]";
    const QString text = QString::fromStdString(line);
    for (const char* key : kKeys) keys += mode && text.startsWith(QString(key) + "=", Qt::CaseInsensitive);
  }
  EXPECT_EQ(keys, std::size(kKeys));
  TIniFile again(path);
  const ModeSettings read = ReadModeSettings(again);
  EXPECT_TRUE(read.Framerate == written.Framerate && read.Exposure == written.Exposure &&
              read.FourCC == written.FourCC && read.Factors == written.Factors);
}

// The value a setting read from the file has, as text.
std::string ReadValue(const ModeSettings& settings, const std::string& key) {
  if (key == "Cam1") return settings.Cam1;
  if (key == "Cam2") return settings.Cam2;
  if (key == "Framerate") return settings.Framerate == 7.5 ? "7.5" : std::to_string(settings.Framerate);
  if (key == "Exposure") return std::to_string(settings.Exposure);
  if (key == "FourCC") return settings.FourCC;
  for (size_t i = 0; i < kFactorKeys.size(); ++i) {
    if (key == kFactorKeys[i]) return settings.Factors[i];
  }
  return {};
}

// Every line of the valid file that the damage left whole, in the section,
// with its key nowhere else, keeps its value.
void ExpectWholeLinesKept(const std::string& text, const ModeSettings& read) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  bool mode = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[")) mode = line == "[Mode]";
    if (mode) lines.push_back(line);
  }
  const auto key_of = [](const std::string& line) {
    return QString::fromStdString(line.substr(0, line.find('='))).toLower();
  };
  std::istringstream valid(kValid);
  for (std::string line; std::getline(valid, line);) {
    if (line.find('=') == std::string::npos || std::count(lines.begin(), lines.end(), line) != 1) continue;
    const auto same_key = std::count_if(lines.begin(), lines.end(), [&](const std::string& other) {
      return other.find('=') != std::string::npos && key_of(other) == key_of(line);
    });
    if (same_key != 1) continue;
    const std::string key = line.substr(0, line.find('='));
    EXPECT_EQ(ReadValue(read, key), line.substr(line.find('=') + 1)) << key;
  }
}

class DamagedSettings : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedSettings, ReadGivesValidValuesAndTheFileWrittenIsValid) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Stereo.ini";
  Random random{std::mt19937(1234)};
  for (size_t i = 0; i < 1000 / std::size(kDamages); ++i) {
    const std::string text = GetParam().make(random);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    TIniFile ini(path);
    const ModeSettings settings = ReadModeSettings(ini);
    ExpectWholeLinesKept(text, settings);
    ASSERT_TRUE(std::isfinite(settings.Framerate));
    ASSERT_TRUE(std::all_of(settings.FourCC.begin(), settings.FourCC.end(),
                            [](char c) { return c >= 0x20 && c < 0x7f; }));
    for (const std::string& factor : settings.Factors) ASSERT_TRUE(ParseFloat(factor)) << factor;
    WriteModeSettings(ini, settings);
    ini.UpdateFile();
    ExpectValidFile(path, settings);
    ASSERT_FALSE(HasFailure()) << "case " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Generated, DamagedSettings, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

// What may stand in the file's place, through the real window: it starts with
// the defaults and closes without crashing or hanging.
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
    const bool read_anyway = std::string(GetParam().name) == "Unreadable" && geteuid() == 0;
    EXPECT_EQ(windows.form().EdFourcc->text(), read_anyway ? "Y800" : "XVID");
  }
  const QString shown = TakeShownErrors();
  EXPECT_TRUE(shown.isEmpty() || shown.contains("can not be written")) << shown.toStdString();
}

const FileKind kFileKinds[] = {
    {"Directory", [](const std::string& path) { std::filesystem::create_directory(path); }},
    // Root reads it anyway; for everyone else it is no file to read.
    {"Unreadable",
     [](const std::string& path) { std::ofstream(path) << "[Mode]\nFourCC=Y800\n", chmod(path.c_str(), 0); }},
    {"Pipe", [](const std::string& path) { mkfifo(path.c_str(), 0600); }},
    {"LinkLoop", [](const std::string& path) { std::filesystem::create_symlink(path, path); }},
    {"EndlessDevice", [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); }},
};

INSTANTIATE_TEST_SUITE_P(NotAFile, SettingsFileKind, ::testing::ValuesIn(kFileKinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
