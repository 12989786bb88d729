#include "stores/alias_table.h"

#include "platform/files.h"

namespace morlak {

namespace {

// "key;folder;rest": the key ends at the first ";", the folder at the second; a line with
// no ";" has neither, a line with one has no folder.
AliasRow ParseLine(std::string_view line) {
  AliasRow row;
  const size_t first = line.find(';');
  if (first == std::string_view::npos) return row;
  row.key = line.substr(0, first);
  const size_t second = line.find(';', first + 1);
  if (second != std::string_view::npos) row.directory = line.substr(first + 1, second - first - 1);
  return row;
}

}  // namespace

bool AliasTable::Load(const std::string& folder) {
  std::lock_guard lock(lock_);
  const auto content = ReadWholeFile(IncludeTrailingSeparator(folder) + fileName_);
  if (!content) return false;
  for (const std::string& line : SplitDataLines(*content))
    if (!line.empty()) rows_.push_back(ParseLine(line));
  return true;
}

bool AliasTable::Save(const std::string& folder) {
  std::lock_guard lock(lock_);
  std::string text;
  for (const AliasRow& row : rows_) text += row.key + ";" + row.directory + ";\r\n";
  return WriteFileAtomic(IncludeTrailingSeparator(folder) + fileName_, text);
}

int AliasTable::IndexOfLocked(const std::string& key) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].key == key) return static_cast<int>(i);
  return -1;
}

int AliasTable::IndexOf(const std::string& key) {
  std::lock_guard lock(lock_);
  return IndexOfLocked(key);
}

bool AliasTable::Add(const std::string& key, const std::string& directory) {
  std::lock_guard lock(lock_);
  if (IndexOfLocked(key) >= 0) return false;
  rows_.push_back(AliasRow{key, directory});
  return true;
}

bool AliasTable::Modify(int index, const std::string& key, const std::string& directory) {
  std::lock_guard lock(lock_);
  if (index < 0 || static_cast<size_t>(index) >= rows_.size()) return false;
  rows_[static_cast<size_t>(index)] = AliasRow{key, directory};
  return true;
}

bool AliasTable::Delete(const std::string& key) {
  std::lock_guard lock(lock_);
  const int index = IndexOfLocked(key);
  if (index < 0) return false;
  rows_.erase(rows_.begin() + index);
  return true;
}

bool AliasTable::Get(int index, std::string& key, std::string& directory) {
  std::lock_guard lock(lock_);
  if (index < 0 || static_cast<size_t>(index) >= rows_.size()) return false;
  key = rows_[static_cast<size_t>(index)].key;
  directory = rows_[static_cast<size_t>(index)].directory;
  return true;
}

TStringList AliasTable::List() {
  std::lock_guard lock(lock_);
  TStringList list;
  list.lines.reserve(rows_.size());
  for (const AliasRow& row : rows_) list.Add(row.key + "||" + row.directory + "||");
  return list;
}

bool AliasTable::FindPrefix(std::string_view text, size_t& keyLength, std::string& directory) {
  std::lock_guard lock(lock_);
  for (const AliasRow& row : rows_) {
    if (SameText(text.substr(0, row.key.size()), row.key)) {
      keyLength = row.key.size();
      directory = row.directory;
      return true;
    }
  }
  return false;
}

}  // namespace morlak
