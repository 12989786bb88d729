// Domain aliases: host-name prefixes served from other folders (httpdomainaliases.lst).
#pragma once

#include <string>

#include "stores/alias_table.h"

namespace morlak {

class DomainAliasStore {
 public:
  static constexpr const char* kFileName = "httpdomainaliases.lst";

  bool LoadDomainAliases(const std::string& folder) { return table_.Load(folder); }
  bool SaveDomainAliases(const std::string& folder) { return table_.Save(folder); }
  int IndexOfDomainAlias(const std::string& host) { return table_.IndexOf(host); }
  bool AddDomainAlias(const std::string& host, const std::string& directory) {
    return table_.Add(host, directory);
  }
  bool ModifyDomainAlias(int index, const std::string& host, const std::string& directory) {
    return table_.Modify(index, host, directory);
  }
  bool DeleteDomainAlias(const std::string& host) { return table_.Delete(host); }
  bool GetDomainAlias(int index, std::string& host, std::string& directory) {
    return table_.Get(index, host, directory);
  }
  TStringList ListDomainAliases() { return table_.List(); }
  // `host` is the Host header as received (port included); it is matched by prefix.
  bool FindDomainAlias(const std::string& host, std::string& directory);

 private:
  AliasTable table_{kFileName};
};

}  // namespace morlak
