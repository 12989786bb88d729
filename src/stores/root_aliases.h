// Root aliases: request-path prefixes served from other folders (httprootaliases.lst).
#pragma once

#include <string>

#include "stores/alias_table.h"

namespace morlak {

class RootAliasStore {
 public:
  static constexpr const char* kFileName = "httprootaliases.lst";

  bool LoadRootAliases(const std::string& folder) { return table_.Load(folder); }
  bool SaveRootAliases(const std::string& folder) { return table_.Save(folder); }
  int IndexOfRootAlias(const std::string& alias) { return table_.IndexOf(alias); }
  bool AddRootAlias(const std::string& alias, const std::string& directory) {
    return table_.Add(alias, directory);
  }
  bool ModifyRootAlias(int index, const std::string& alias, const std::string& directory) {
    return table_.Modify(index, alias, directory);
  }
  bool DeleteRootAlias(const std::string& alias) { return table_.Delete(alias); }
  bool GetRootAlias(int index, std::string& alias, std::string& directory) {
    return table_.Get(index, alias, directory);
  }
  TStringList ListRootAliases() { return table_.List(); }
  // On a match the alias is cut from `document` but for its first character (normally the
  // leading "/"), and `directory` gets the alias folder; otherwise both stay unchanged.
  bool FindRootAlias(std::string& document, std::string& directory);

 private:
  AliasTable table_{kFileName};
};

}  // namespace morlak
