// The table behind both alias stores: rows of a key (a path or host-name prefix) and a
// folder, in insertion order, kept in a text file of "key;folder;" lines.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace morlak {

struct AliasRow {
  std::string key;
  std::string directory;
};

class AliasTable {
 public:
  explicit AliasTable(std::string fileName) : fileName_(std::move(fileName)) {}

  // Appends the rows of folder + file name; false when that file cannot be read.
  bool Load(const std::string& folder);
  bool Save(const std::string& folder);
  int IndexOf(const std::string& key);
  bool Add(const std::string& key, const std::string& directory);
  bool Modify(int index, const std::string& key, const std::string& directory);
  bool Delete(const std::string& key);
  bool Get(int index, std::string& key, std::string& directory);
  TStringList List();
  // The first row whose key equals the start of `text` (case ignored, all of `text` when it
  // is shorter): its key length and folder.
  bool FindPrefix(std::string_view text, size_t& keyLength, std::string& directory);

 private:
  int IndexOfLocked(const std::string& key) const;

  const std::string fileName_;
  std::mutex lock_;
  std::vector<AliasRow> rows_;
};

}  // namespace morlak
