// A fresh folder under the system's temporary folder, removed with everything in it when
// the test ends.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace morlak::test {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morlak-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern + "/" : std::string();
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // With a trailing "/".
  const std::string& Path() const { return path_; }

  std::string Write(const std::string& name, const std::string& content) const {
    const std::string file = path_ + name;
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }
  std::string MakeFolder(const std::string& name) const {
    std::filesystem::create_directories(path_ + name);
    return path_ + name + "/";
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

}  // namespace morlak::test
