// The extension libraries a runner has loaded, by file name without folder (compared
// without regard to case): the first library loaded under a name answers for every
// folder holding a file of that name. One lock guards every access.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/dynamic_library.h"
#include "stores/case_insensitive_hash.h"

namespace morlak {

class ExtensionLibraryCache {
 public:
  using Library = std::shared_ptr<const DynamicLibrary>;

  // The cached library named like the file at `path`, else the file loaded and cached.
  // `loaded` tells whether this call loaded it; nullptr with `error` set when loading
  // failed (nothing is cached then, so the next request tries again).
  // With `uncached`, a cached entry of that name is dropped and the file loaded for this
  // caller alone; it unloads when the caller lets go.
  Library Acquire(const std::string& path, bool uncached, bool& loaded, std::string& error);
  // Drops every entry; libraries still in use stay loaded until their last user is done.
  void Clear();
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  CaseInsensitiveMap<Library> libraries_;
};

}  // namespace morlak
