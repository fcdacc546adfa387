#pragma once

// Stand-ins for what filters reach outside their layer: the main window's
// frames, log and check marks, an in-memory settings store, a dialog.

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filters/filter_setup.h"
#include "filters/mainwindow_link.h"
#include "filters/settings_store.h"

// Records what the distortion filter writes into its dialog.
class FakeDistortSetup : public TDistortSetupLink, public TLogMemo {
 public:
  int Left() const override { return 0; }
  int Top() const override { return 0; }
  void MoveTo(int, int) override {}
  void WriteField(TDistortField field, double value) override { fields[static_cast<size_t>(field)] = value; }
  void WriteMode(int index) override { mode = index; }
  void WriteBoardSize(int, int) override {}
  void WriteSubPixel(bool) override {}
  void WriteSquareSize(double) override {}
  void ShowStatus(const std::string& text) override { status = text; }
  TLogMemo& Memo() override { return *this; }
  void ShowModeless() override { ++shown; }
  void AppendLine(const std::string& line) override { memo.push_back(line); }

  double Field(TDistortField field) const { return fields[static_cast<size_t>(field)]; }

  std::array<double, kDistortFieldCount> fields{};
  int mode = -1;
  std::string status;
  std::vector<std::string> memo;
  int shown = 0;
};

class FakeMainWindow : public TMainWindowLink {
 public:
  struct Entry {
    const TVidFilter* filter;
    bool checked;
  };

  IplImage* CurrentLeftImage() const override { return current_left; }
  IplImage* CurrentRightImage() const override { return current_right; }
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void SetFilterChecks(const TVidFilter* filter, bool checked) override {
    for (Entry& entry : entries)
      if (entry.filter == filter) entry.checked = checked;
  }

  std::unique_ptr<TDistortSetupLink> MakeDistortSetup(TDistortFilter&) override {
    return std::make_unique<FakeDistortSetup>();
  }
  const TStereoCalibration* StereoCalibrationInForce() const override { return calibration; }

  IplImage* current_left = nullptr;
  IplImage* current_right = nullptr;
  const TStereoCalibration* calibration = nullptr;
  std::vector<std::string> log;
  std::vector<Entry> entries;
};

// Keeps every value as text, as an INI file does.
class FakeSettingsStore : public TSettingsStore {
 public:
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) override {
    const auto found = values.find({section, key});
    return found == values.end() ? def : found->second;
  }
  int ReadInteger(const std::string& section, const std::string& key, int def) override {
    const auto found = values.find({section, key});
    return found == values.end() ? def : std::stoi(found->second);
  }
  double ReadFloat(const std::string& section, const std::string& key, double def) override {
    const auto found = values.find({section, key});
    return found == values.end() ? def : std::stod(found->second);
  }
  bool ReadBool(const std::string& section, const std::string& key, bool def) override {
    const auto found = values.find({section, key});
    return found == values.end() ? def : found->second != "0";
  }
  void WriteString(const std::string& section, const std::string& key, const std::string& value) override {
    Write(section, key, value);
  }
  void WriteInteger(const std::string& section, const std::string& key, int value) override {
    Write(section, key, std::to_string(value));
  }
  void WriteFloat(const std::string& section, const std::string& key, double value) override {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    Write(section, key, text);
  }
  void WriteBool(const std::string& section, const std::string& key, bool value) override {
    Write(section, key, value ? "1" : "0");
  }

  std::map<std::pair<std::string, std::string>, std::string> values;
  std::vector<std::string> written_keys;

 private:
  void Write(const std::string& section, const std::string& key, const std::string& value) {
    values[{section, key}] = value;
    written_keys.push_back(key);
  }
};

class FakeSetup : public TFilterSetup {
 public:
  int Left() const override { return left; }
  int Top() const override { return top; }
  void MoveTo(int new_left, int new_top) override {
    left = new_left;
    top = new_top;
    ++moves;
  }

  int left = 0;
  int top = 0;
  int moves = 0;
};
