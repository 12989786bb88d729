// INI files read and written key by key with the profile-function rules: section and
// key names without regard to case, trimmed values, reads cut to 2047 characters, and
// updates that keep every other line of the file. Lines end in CR LF; Save replaces
// the file atomically. A written value ends at its first line break or NUL, since
// anything after it would be read back as further lines of the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace morlak {

class IniFile {
 public:
  static constexpr size_t kMaxValueLength = 2047;

  // Reads the file when it exists; a missing file is an empty one.
  explicit IniFile(std::string path);

  bool Exists() const { return existed_; }
  // The file exists but could not be read; Save then refuses, so lines that were never
  // read are not replaced.
  bool ReadFailed() const { return readFailed_; }
  const std::string& Path() const { return path_; }

  // Missing section or key gives the fallback.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  // Decimal, or hexadecimal for "0x.."; a value that does not parse gives the fallback.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
  // Any integer but 0 is true; text that is not an integer gives the fallback.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  // General floating-point text; unreadable text gives the fallback.
  double ReadFloat(std::string_view section, std::string_view key, double fallback) const;
  bool HasKey(std::string_view section, std::string_view key) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void WriteFloat(std::string_view section, std::string_view key, double value);

  // The whole file as it would be written.
  std::string Text() const;
  bool Save(FileAccess access = FileAccess::kShared) const;

 private:
  struct Section {
    std::string header;  // the "[name]" line as found; empty for lines before any section
    std::vector<std::string> lines;
  };
  const std::string* FindValueLine(std::string_view section, std::string_view key) const;

  std::string path_;
  bool existed_ = false;
  bool readFailed_ = false;
  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> index_;  // lower-case name -> first such section
};

}  // namespace morlak
