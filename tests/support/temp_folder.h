// A fresh folder under the system's temporary folder, removed with everything in it
// when the test ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace morlak::test_support {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morlak-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern + "/";
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder with a trailing "/".
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

  // Writes a file below the folder, creating its sub-folders; returns the full path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(File(name)).parent_path());
    std::ofstream(File(name), std::ios::binary) << content;
    return File(name);
  }
  // Writes a file that may be run as a program (mode 755); returns the full path.
  std::string WriteProgram(const std::string& name, const std::string& content) const {
    const std::string path = Write(name, content);
    std::filesystem::permissions(path, std::filesystem::perms(0755));
    return path;
  }
  // Creates a sub-folder; returns its full path with a trailing "/".
  std::string MakeFolder(const std::string& name) const {
    std::filesystem::create_directories(File(name));
    const std::string path = File(name);
    return path.back() == '/' ? path : path + "/";
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

}  // namespace morlak::test_support
