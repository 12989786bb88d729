#include "gateways/extension_library_cache.h"

#include "platform/files.h"

namespace morlak {

ExtensionLibraryCache::Library ExtensionLibraryCache::Acquire(const std::string& path,
                                                              bool uncached, bool& loaded,
                                                              std::string& error) {
  loaded = false;
  const std::string name = ExtractFileName(path);
  std::lock_guard<std::mutex> lock(mutex_);
  if (uncached) {
    libraries_.erase(name);
  } else if (const auto found = libraries_.find(name); found != libraries_.end()) {
    return found->second;
  }
  Library library = DynamicLibrary::Load(path, error);
  if (!library) return nullptr;
  loaded = true;
  if (!uncached) libraries_.emplace(name, library);
  return library;
}

void ExtensionLibraryCache::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  libraries_.clear();
}

size_t ExtensionLibraryCache::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return libraries_.size();
}

}  // namespace morlak
