#include "stores/root_aliases.h"

namespace morlak {

bool RootAliasStore::FindRootAlias(std::string& document, std::string& directory) {
  size_t aliasLength = 0;
  if (!table_.FindPrefix(document, aliasLength, directory)) return false;
  if (aliasLength > 1) document.erase(1, aliasLength - 1);
  return true;
}

}  // namespace morlak
