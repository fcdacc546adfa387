#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filters/settings_store.h"

// Number texts as the settings file holds them: "." as decimal separator
// whatever the user's locale, shortest text that reads back to the same value
// (8.0 as "8", 7.5 as "7.5").
std::string FormatFloat(double value);
// The whole text (surrounding blanks allowed) as a finite number, else nothing.
std::optional<double> ParseFloat(std::string_view text);
// The whole text as a decimal int in range, else nothing.
std::optional<int> ParseInteger(std::string_view text);

// A Windows-style INI file held in memory: sections in brackets, one
// "key=value" line per key. Sections and keys match without regard to letter
// case and keep their order; lines it does not understand (comments, junk)
// are kept in place so rewriting a file loses nothing. Damaged lines (control
// bytes, NULs, longer than kLongestLine) are dropped when read; a later copy
// of a key is dropped when the key is written.
class TIniFile : public TSettingsStore {
 public:
  // A file larger than this is read up to here; a longer line is dropped.
  static constexpr size_t kLargestFile = size_t{16} << 20;
  static constexpr size_t kLongestLine = size_t{64} << 10;

  // Reads the file when it exists; a missing file is an empty one.
  explicit TIniFile(std::string path);

  [[nodiscard]] const std::string& FileName() const { return path_; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) override;
  int ReadInteger(const std::string& section, const std::string& key, int def) override;
  double ReadFloat(const std::string& section, const std::string& key, double def) override;
  bool ReadBool(const std::string& section, const std::string& key, bool def) override;
  void WriteString(const std::string& section, const std::string& key, const std::string& value) override;
  void WriteInteger(const std::string& section, const std::string& key, int value) override;
  void WriteFloat(const std::string& section, const std::string& key, double value) override;
  void WriteBool(const std::string& section, const std::string& key, bool value) override;

  [[nodiscard]] bool SectionExists(const std::string& section) const;
  [[nodiscard]] bool ValueExists(const std::string& section, const std::string& key) const;
  [[nodiscard]] std::vector<std::string> ReadSection(const std::string& section) const;

  // The whole file as it would be written.
  [[nodiscard]] std::string Text() const;
  // Writes the file through a temporary beside it, so a failed write never
  // leaves half a file; throws std::runtime_error when it cannot be written.
  void UpdateFile() const;

 private:
  struct Line {
    std::string key;  // empty for a line that is not a key
    std::string value;
    std::string raw;  // the text of a line that is not a key
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };

  void Parse(std::string_view text);
  [[nodiscard]] const Section* FindSection(const std::string& name) const;
  [[nodiscard]] const std::string* FindValue(const std::string& section, const std::string& key) const;

  std::string path_;
  // The first entry holds what stands before any section header; it has no
  // name a caller can ask for.
  std::vector<Section> sections_;
};
