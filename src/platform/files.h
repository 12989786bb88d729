// Files and folders: existence, size, times, enumeration, whole-file reads and atomic
// replacement. Paths are native ("/" on this platform).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"

namespace morlak {

constexpr char kPathSeparator = '/';

bool FileExists(const std::string& path);  // a regular file (or anything but a folder)
bool DirectoryExists(const std::string& path);
std::optional<int64_t> FileSize(const std::string& path);
std::optional<TDateTime> FileModTime(const std::string& path);  // local time
bool SetFileModTime(const std::string& path, TDateTime localTime);

// Packed DOS date (high 16 bits) and time (low 16 bits) of a local date-time.
int32_t DateTimeToDosDateTime(TDateTime value);
TDateTime DosDateTimeToDateTime(int32_t packed);

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
  int64_t size = 0;
  TDateTime modified = 0;
};
// Every entry of a folder in the order the file system gives them ("." and ".."
// included); nullopt when the folder cannot be read.
std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& folder);

// Who may read a written file. A replaced file keeps its permissions (a settings file may
// have been made private or shared on purpose) unless the content is always private.
enum class FileAccess {
  kShared,     // a new file as the process's file mask allows
  kSecret,     // a new file for the owner only (pass phrases, passwords)
  kOwnerOnly,  // always for the owner only (private keys)
};

// Whole-file read; nullopt when the file cannot be opened or read, or is not a regular
// file (a named pipe is refused without waiting for a writer).
std::optional<std::string> ReadWholeFile(const std::string& path);
// The end of a file: its last `maxLines` lines, and no more than `maxBytes` bytes (a
// line that does not fit whole is left out), found by reading backwards in blocks, so
// the memory used does not grow with the file. The same refusals as ReadWholeFile.
std::optional<std::string> ReadFileTail(const std::string& path, size_t maxLines, size_t maxBytes);
// Writes a temporary file beside `path`, flushes it to disk and renames it over `path`,
// so a crash leaves either the old or the new file.
bool WriteFileAtomic(const std::string& path, const std::string& content,
                     FileAccess access = FileAccess::kShared);
// Appends with one write call, creating the file when missing, so lines written by
// several writers never interleave. Anything but a regular file is refused.
bool AppendToFile(const std::string& path, std::string_view content);

std::string ExtractFileName(const std::string& path);
std::string ExtractFileDir(const std::string& path);
// The extension with its dot, from the last "." of the last path component; "" if none.
std::string ExtractFileExt(const std::string& path);
// The same as a view into `path`.
std::string_view ExtractFileExtView(std::string_view path);
std::string IncludeTrailingSeparator(const std::string& folder);
// A desktop base folder with a trailing separator: the environment variable `variable`
// when it holds an absolute path, else `belowHome` under $HOME; empty when neither does.
std::string DesktopBaseFolder(const char* variable, const char* belowHome);
// The path made absolute against the working folder; nothing else about it changes.
std::string ExpandFileName(const std::string& path);

// Full path of the running executable; empty when the system does not tell.
std::string ExecutablePath();
// Folder of the running executable, with a trailing separator.
std::string ExecutableFolder();
// File name of the running executable, without its folder.
std::string ExecutableFileName();

// Bytes an unprivileged writer may still put on the volume holding `folder`.
std::optional<int64_t> FreeDiskSpace(const std::string& folder);

}  // namespace morlak
