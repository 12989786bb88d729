#include "platform/ini_file.h"

#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/text.h"

namespace morlak {

namespace {

// The section name of a "[name]" line, or false for any other line.
bool ParseHeader(std::string_view line, std::string& name) {
  const std::string trimmed = Trim(line);
  if (trimmed.size() < 2 || trimmed.front() != '[') return false;
  const size_t close = trimmed.find(']');
  if (close == std::string::npos) return false;
  name = Trim(std::string_view(trimmed).substr(1, close - 1));
  return true;
}

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3)));
}

bool KeyMatches(std::string_view line, std::string_view key) {
  const size_t eq = line.find('=');
  return eq != std::string_view::npos && SameText(Trim(line.substr(0, eq)), key);
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  sections_.push_back(Section{});
  const auto content = ReadWholeFile(path_);
  if (!content) {
    readFailed_ = FileExists(path_);
    return;
  }
  existed_ = true;
  for (auto& line : SplitDataLines(*content)) {
    std::string name;
    if (ParseHeader(line, name)) {
      index_.try_emplace(LowerCase(name), sections_.size());
      sections_.push_back(Section{std::move(line), {}});
    } else {
      sections_.back().lines.push_back(std::move(line));
    }
  }
}

const std::string* IniFile::FindValueLine(std::string_view section, std::string_view key) const {
  const auto it = index_.find(LowerCase(section));
  if (it == index_.end()) return nullptr;
  for (const auto& line : sections_[it->second].lines)
    if (KeyMatches(line, key)) return &line;
  return nullptr;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
  return FindValueLine(section, key) != nullptr;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  const std::string* line = FindValueLine(section, key);
  std::string value =
      line ? Trim(std::string_view(*line).substr(line->find('=') + 1)) : std::string(fallback);
  if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
  return value;
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t fallback) const {
  return StrToIntDef(ReadString(section, key, ""), fallback);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  int32_t v;
  return TryParseInt(ReadString(section, key, ""), v) ? v != 0 : fallback;
}

double IniFile::ReadFloat(std::string_view section, std::string_view key, double fallback) const {
  double v;
  return TryParseFloat(ReadString(section, key, ""), v) ? v : fallback;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  section = FirstLine(section);
  key = FirstLine(key);
  std::string line(key);
  line += '=';
  line += FirstLine(value);
  const std::string lower = LowerCase(section);
  auto it = index_.find(lower);
  if (it == index_.end()) {
    it = index_.emplace(lower, sections_.size()).first;
    std::string header(1, '[');
    header.append(section).push_back(']');
    sections_.push_back(Section{std::move(header), {}});
  }
  auto& lines = sections_[it->second].lines;
  for (auto& existing : lines) {
    if (KeyMatches(existing, key)) {
      existing = std::move(line);
      return;
    }
  }
  // A new key goes after the last non-empty line of its section.
  size_t at = lines.size();
  while (at > 0 && Trim(lines[at - 1]).empty()) --at;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, FormatFloatGeneral(value));
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto& section : sections_) {
    if (!section.header.empty()) out += section.header + "\r\n";
    for (const auto& line : section.lines) out += line + "\r\n";
  }
  return out;
}

bool IniFile::Save(FileAccess access) const {
  return !readFailed_ && WriteFileAtomic(path_, Text(), access);
}

}  // namespace morlak
