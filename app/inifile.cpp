#include "app/inifile.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A line break inside a value would start a new key when read back.
std::string OneLine(const std::string& text) {
  std::string line = text;
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return line;
}

// Binary junk (NUL and other control bytes) or a line longer than any
// setting; a carriage return before the line break is allowed.
bool DamagedLine(std::string_view raw) {
  if (raw.size() > TIniFile::kLongestLine) return true;
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  return std::any_of(raw.begin(), raw.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7f;
  });
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

bool Quoted(std::string_view value) {
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

// Blanks around a value would be trimmed when read back (a codec code "Y8  ",
// or four blanks): such a value is written in quotes, as Windows INI files
// allow, and one pair of quotes is taken off when read.
std::string StoredValue(const std::string& value) {
  const bool keep_blanks = !value.empty() && (Blank(value.front()) || Blank(value.back()));
  return keep_blanks || Quoted(value) ? '"' + value + '"' : value;
}

std::string_view ReadValue(std::string_view stored) {
  return Quoted(stored) ? stored.substr(1, stored.size() - 2) : stored;
}

// A settings file that is a link (into a folder of kept configuration files)
// is replaced where it points, so the link itself stays.
std::string ReplacedFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  return error ? path : target.string();
}

// The whole text, blanks around it and a leading "+" allowed, as one number.
template <class Number>
std::optional<Number> ParseWhole(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  Number value{};
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string FormatFloat(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::optional<double> ParseFloat(std::string_view text) {
  const std::optional<double> value = ParseWhole<double>(text);
  if (value && !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::optional<int> ParseInteger(std::string_view text) { return ParseWhole<int>(text); }

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  sections_.push_back(Section{});
  // A pipe or a device in the file's place would never end reading.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path_, error)) return;
  std::ifstream file(path_, std::ios::binary);
  if (!file) return;
  const uintmax_t size = std::filesystem::file_size(path_, error);
  std::string content(error ? 0 : std::min<uintmax_t>(size, kLargestFile), '\0');
  file.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<size_t>(file.gcount()));
  Parse(content);
}

void TIniFile::Parse(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

    // Not settings: carrying it into the rewritten file would keep the damage.
    if (DamagedLine(raw)) continue;
    const std::string_view line = Trim(raw);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections_.push_back(Section{std::string(Trim(line.substr(1, line.size() - 2))), {}});
      continue;
    }
    const size_t equals = line.find('=');
    const bool comment = !line.empty() && (line.front() == ';' || line.front() == '#');
    if (comment || equals == std::string_view::npos || Trim(line.substr(0, equals)).empty()) {
      std::string kept(raw);
      if (!kept.empty() && kept.back() == '\r') kept.pop_back();
      sections_.back().lines.push_back(Line{{}, {}, std::move(kept)});
      continue;
    }
    sections_.back().lines.push_back(Line{std::string(Trim(line.substr(0, equals))),
                                          std::string(ReadValue(Trim(line.substr(equals + 1)))),
                                          {}});
  }
}

const TIniFile::Section* TIniFile::FindSection(const std::string& name) const {
  const auto found = std::find_if(sections_.begin() + 1, sections_.end(),
                                  [&](const Section& section) { return SameText(section.name, name); });
  return found == sections_.end() ? nullptr : &*found;
}

const std::string* TIniFile::FindValue(const std::string& section, const std::string& key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return nullptr;
  for (const Line& line : found->lines) {
    if (!line.key.empty() && SameText(line.key, key)) return &line.value;
  }
  return nullptr;
}

bool TIniFile::SectionExists(const std::string& section) const { return FindSection(section) != nullptr; }

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return FindValue(section, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  if (const Section* found = FindSection(section)) {
    for (const Line& line : found->lines) {
      if (!line.key.empty()) keys.push_back(line.key);
    }
  }
  return keys;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) {
  const std::string* value = FindValue(section, key);
  return value != nullptr ? *value : def;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) {
  const std::string* value = FindValue(section, key);
  return value != nullptr ? ParseInteger(*value).value_or(def) : def;
}

double TIniFile::ReadFloat(const std::string& section, const std::string& key, double def) {
  const std::string* value = FindValue(section, key);
  return value != nullptr ? ParseFloat(*value).value_or(def) : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  auto found = std::find_if(sections_.begin() + 1, sections_.end(),
                            [&](const Section& s) { return SameText(s.name, section); });
  if (found == sections_.end()) {
    sections_.push_back(Section{OneLine(section), {}});
    found = sections_.end() - 1;
  }
  const auto same_key = [&](const Line& line) { return !line.key.empty() && SameText(line.key, key); };
  const auto first = std::find_if(found->lines.begin(), found->lines.end(), same_key);
  if (first != found->lines.end()) {
    first->value = OneLine(value);
    // Later copies of the key would contradict the value just written.
    found->lines.erase(std::remove_if(first + 1, found->lines.end(), same_key), found->lines.end());
    return;
  }
  // New keys go after the section's last key, ahead of trailing blank lines
  // and comments that belong to the next section.
  auto last_key = std::find_if(found->lines.rbegin(), found->lines.rend(),
                               [](const Line& line) { return !line.key.empty(); });
  found->lines.insert(last_key.base(), Line{OneLine(key), OneLine(value), {}});
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
  WriteString(section, key, FormatFloat(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

std::string TIniFile::Text() const {
  std::string text;
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (i > 0) text += "[" + sections_[i].name + "]\n";
    for (const Line& line : sections_[i].lines) {
      text += line.key.empty() ? line.raw : line.key + "=" + StoredValue(line.value);
      text += '\n';
    }
  }
  return text;
}

void TIniFile::UpdateFile() const {
  const std::string target = ReplacedFile(path_);
  // One temporary per process: two workbenches closing at once must not
  // write into the same temporary and rename each other's half file.
  const std::string temporary = target + ".tmp" + std::to_string(getpid());
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << Text();
    file.flush();
    if (!file) {
      std::remove(temporary.c_str());
      throw std::runtime_error("Settings file " + path_ + " can not be written");
    }
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw std::runtime_error("Settings file " + path_ + " can not be written");
  }
}
