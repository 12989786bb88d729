#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/atomic_file.h"

namespace morlak {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// A plain backwards scan: find_last_of with a set runs a search of the set per character.
size_t LastSeparator(std::string_view path) {
  for (size_t i = path.size(); i-- > 0;)
    if (IsSeparator(path[i])) return i;
  return std::string::npos;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<int64_t> FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<int64_t>(st.st_size);
}

std::optional<TDateTime> FileModTime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return UnixToLocalDateTime(st.st_mtime);
}

bool SetFileModTime(const std::string& path, TDateTime localTime) {
  const timespec times[2] = {{0, UTIME_OMIT}, {LocalDateTimeToUnix(localTime), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int32_t DateTimeToDosDateTime(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  const uint32_t date = static_cast<uint32_t>(((p.year - 1980) << 9) | (p.month << 5) | p.day);
  const uint32_t time = static_cast<uint32_t>((p.hour << 11) | (p.minute << 5) | (p.second / 2));
  return static_cast<int32_t>((date << 16) | (time & 0xFFFF));
}

TDateTime DosDateTimeToDateTime(int32_t packed) {
  const uint32_t v = static_cast<uint32_t>(packed);
  const uint32_t date = v >> 16, time = v & 0xFFFF;
  return EncodeDateTime(static_cast<int>((date >> 9) + 1980), static_cast<int>((date >> 5) & 15),
                        static_cast<int>(date & 31), static_cast<int>(time >> 11),
                        static_cast<int>((time >> 5) & 63), static_cast<int>((time & 31) * 2));
}

std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& folder) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return std::nullopt;
  std::vector<DirectoryEntry> entries;
  const std::string base = IncludeTrailingSeparator(folder);
  while (dirent* e = ::readdir(dir)) {
    DirectoryEntry entry;
    entry.name = e->d_name;
    struct stat st;
    if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0) {
      entry.isDirectory = S_ISDIR(st.st_mode);
      entry.size = st.st_size;
      entry.modified = UnixToLocalDateTime(st.st_mtime);
    } else {
      entry.isDirectory = e->d_type == DT_DIR;
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  // Not blocking: a named pipe in a data file's place must not stall the open (it is
  // refused below, as is anything but a regular file).
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string content;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  if (st.st_size > 0) content.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return content;
}

namespace {

bool ReadAt(int fd, char* buffer, size_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    count -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// Where the tail of at most `maxLines` lines and `maxBytes` bytes starts; -1 on a read
// failure.
int64_t TailStart(int fd, int64_t size, size_t maxLines, size_t maxBytes) {
  if (maxLines == 0 || maxBytes == 0) return size;
  const int64_t floor =
      size > static_cast<int64_t>(maxBytes) ? size - static_cast<int64_t>(maxBytes) : 0;
  // The byte before `floor` tells whether a line starts right at it.
  const int64_t scanFrom = floor > 0 ? floor - 1 : 0;
  int64_t lowestStart = size;
  size_t breaks = 0;
  char block[65536];
  for (int64_t pos = size; pos > scanFrom;) {
    const int64_t from = std::max<int64_t>(scanFrom, pos - static_cast<int64_t>(sizeof block));
    if (!ReadAt(fd, block, static_cast<size_t>(pos - from), from)) return -1;
    for (int64_t at = pos - 1; at >= from; --at) {
      // The break that ends the last line starts no line.
      if (block[at - from] != '\n' || at == size - 1) continue;
      if (++breaks == maxLines) return at + 1;
      lowestStart = at + 1;
    }
    pos = from;
  }
  return floor == 0 ? 0 : lowestStart;
}

}  // namespace

std::optional<std::string> ReadFileTail(const std::string& path, size_t maxLines, size_t maxBytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::string> tail;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const int64_t start = TailStart(fd, st.st_size, maxLines, maxBytes);
    if (start >= 0) {
      std::string text(static_cast<size_t>(st.st_size - start), '\0');
      if (ReadAt(fd, text.data(), text.size(), start)) tail = std::move(text);
    }
  }
  ::close(fd);
  return tail;
}

bool WriteFileAtomic(const std::string& path, const std::string& content, FileAccess access) {
  try {
    AtomicFileWriter writer(path, access);
    writer.Stream().Write(content.data(), content.size());
    return writer.Commit();
  } catch (const EStreamError&) {
    return false;
  }
}

bool AppendToFile(const std::string& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const bool written = WriteAll(fd, content.data(), content.size());
  return ::close(fd) == 0 && written;
}

std::string ExtractFileName(const std::string& path) {
  const size_t sep = LastSeparator(path);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string ExtractFileDir(const std::string& path) {
  const size_t sep = LastSeparator(path);
  return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

std::string_view ExtractFileExtView(std::string_view path) {
  // One backwards scan over the name alone: a separator before any dot means no extension.
  for (size_t i = path.size(); i-- > 0;) {
    if (path[i] == '.') return path.substr(i);
    if (IsSeparator(path[i])) break;
  }
  return {};
}

std::string ExtractFileExt(const std::string& path) {
  return std::string(ExtractFileExtView(path));
}

std::string IncludeTrailingSeparator(const std::string& folder) {
  if (folder.empty() || IsSeparator(folder.back())) return folder;
  return folder + kPathSeparator;
}

std::string DesktopBaseFolder(const char* variable, const char* belowHome) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return IncludeTrailingSeparator(value);
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') return {};
  return IncludeTrailingSeparator(IncludeTrailingSeparator(home) + belowHome);
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n <= 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  return path.empty() ? "./" : IncludeTrailingSeparator(ExtractFileDir(path));
}

std::string ExecutableFileName() {
  return ExtractFileName(ExecutablePath());
}

std::optional<int64_t> FreeDiskSpace(const std::string& folder) {
  struct statvfs info;
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) return std::nullopt;
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

std::string ExpandFileName(const std::string& path) {
  if (!path.empty() && path[0] == kPathSeparator) return path;
  char buffer[4096];
  if (!::getcwd(buffer, sizeof buffer)) return path;
  return IncludeTrailingSeparator(buffer) + path;
}

}  // namespace morlak
