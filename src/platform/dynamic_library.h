// Shared libraries loaded at run time: load by path, look up entry points, unload when the
// last owner lets go.
#pragma once

#include <memory>
#include <string>

namespace morlak {

class DynamicLibrary {
 public:
  // Binds every symbol at load and keeps the library's symbols to itself. nullptr when the
  // file cannot be loaded; `error` then holds the system's reason.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& path, std::string& error);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of an exported symbol, nullptr when there is none.
  void* Symbol(const char* name) const;
  const std::string& Path() const { return path_; }

 private:
  DynamicLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  void* handle_;
  std::string path_;
};

}  // namespace morlak
