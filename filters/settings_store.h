#pragma once

#include <string>

// An INI-style store of typed values by section and key. Reads return the
// default when the key is missing or its value unreadable.
class TSettingsStore {
 public:
  virtual ~TSettingsStore() = default;
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) = 0;
  virtual int ReadInteger(const std::string& section, const std::string& key, int def) = 0;
  virtual double ReadFloat(const std::string& section, const std::string& key, double def) = 0;
  virtual bool ReadBool(const std::string& section, const std::string& key, bool def) = 0;
  virtual void WriteString(const std::string& section, const std::string& key, const std::string& value) = 0;
  virtual void WriteInteger(const std::string& section, const std::string& key, int value) = 0;
  virtual void WriteFloat(const std::string& section, const std::string& key, double value) = 0;
  virtual void WriteBool(const std::string& section, const std::string& key, bool value) = 0;
};
