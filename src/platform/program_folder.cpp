#include "platform/program_folder.h"

#include <unistd.h>

#include <filesystem>

#include "platform/files.h"

namespace morlak {

namespace fs = std::filesystem;

std::string UserProgramFolder() {
  const std::string base = DesktopBaseFolder("XDG_DATA_HOME", ".local/share");
  return base.empty() ? base : base + "morlak/";
}

bool IsWritableFolder(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

ProgramFolderChoice ChooseProgramFolder(const std::string& dataDir,
                                        const std::string& executableFolder,
                                        bool executableFolderWritable) {
  if (!dataDir.empty()) return {IncludeTrailingSeparator(dataDir), true};
  if (executableFolderWritable) return {IncludeTrailingSeparator(executableFolder), false};
  return {UserProgramFolder(), true};
}

std::string SharedDataFolder(const std::string& executableFolder) {
  return fs::path(IncludeTrailingSeparator(executableFolder) + "../share/morlak/")
      .lexically_normal()
      .string();
}

std::string SeedProgramFolder(const std::string& folder, const std::string& sharedFolder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return "cannot create \"" + folder + "\": " + error.message();
  if (!fs::is_empty(folder, error) || error) return {};
  if (!DirectoryExists(sharedFolder)) return {};
  // Nothing is there to overwrite; skip_existing only guards against a second instance
  // seeding the same folder at the same moment.
  fs::copy(sharedFolder, folder, fs::copy_options::recursive | fs::copy_options::skip_existing,
           error);
  if (error)
    return "cannot copy \"" + sharedFolder + "\" to \"" + folder + "\": " + error.message();
  return {};
}

std::string UserGuideFile(const std::string& executableFolder, const std::string& programFolder) {
  const std::string bin = IncludeTrailingSeparator(executableFolder);
  const std::string candidates[] = {
      bin + "guide/index.html", bin + "../share/doc/morlak/guide/index.html",
      IncludeTrailingSeparator(programFolder) + "http/public/guide/index.html"};
  for (const std::string& candidate : candidates) {
    if (FileExists(candidate)) return fs::path(candidate).lexically_normal().string();
  }
  return candidates[0];
}

}  // namespace morlak
