#include "stores/domain_aliases.h"

namespace morlak {

bool DomainAliasStore::FindDomainAlias(const std::string& host, std::string& directory) {
  size_t hostLength = 0;
  return table_.FindPrefix(host, hostLength, directory);
}

}  // namespace morlak
