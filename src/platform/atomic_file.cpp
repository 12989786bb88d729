#include "platform/atomic_file.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "platform/text.h"

namespace morlak {

namespace {

constexpr std::string_view kTemporaryMark = ".tmp";

std::string TemporaryPathBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + std::string(kTemporaryMark) + std::to_string(::getpid()) + "_" +
         std::to_string(counter++);
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The writing process of a name TemporaryPathBeside made ("<name>.tmp<pid>_<n>"), else 0.
pid_t WriterOf(std::string_view name) {
  const size_t mark = name.rfind(kTemporaryMark);
  if (mark == std::string_view::npos || mark == 0) return 0;
  const std::string_view rest = name.substr(mark + kTemporaryMark.size());
  const size_t underscore = rest.find('_');
  if (underscore == std::string_view::npos || !AllDigits(rest.substr(0, underscore)) ||
      !AllDigits(rest.substr(underscore + 1)))
    return 0;
  int32_t pid;
  return TryParseInt(rest.substr(0, underscore), pid) && pid > 0 ? pid : 0;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path, FileAccess access)
    : path_(std::move(path)),
      temp_(TemporaryPathBeside(path_)),
      stream_(std::make_unique<TFileStream>(temp_, TFileStream::Mode::kCreate)) {
  struct stat old;
  if (access != FileAccess::kOwnerOnly && ::stat(path_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(stream_->Handle(), old.st_mode & 07777);
  else if (access != FileAccess::kShared)
    ::fchmod(stream_->Handle(), S_IRUSR | S_IWUSR);
}

AtomicFileWriter::~AtomicFileWriter() {
  stream_.reset();
  if (!committed_) ::unlink(temp_.c_str());
}

int RemoveStaleTemporaryFiles(const std::string& folder) {
  const auto entries = ListDirectory(folder);
  if (!entries) return 0;
  const std::string base = IncludeTrailingSeparator(folder);
  int removed = 0;
  for (const DirectoryEntry& entry : *entries) {
    if (entry.isDirectory) continue;
    const pid_t writer = WriterOf(entry.name);
    if (writer == 0 || writer == ::getpid()) continue;
    if (::kill(writer, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
    if (::unlink((base + entry.name).c_str()) == 0) ++removed;
  }
  return removed;
}

bool AtomicFileWriter::Sync() {
  return stream_ && ::fsync(stream_->Handle()) == 0;
}

bool AtomicFileWriter::Commit() {
  if (committed_) return true;
  if (!stream_ || ::fsync(stream_->Handle()) != 0) return false;
  stream_.reset();
  committed_ = std::rename(temp_.c_str(), path_.c_str()) == 0;
  return committed_;
}

}  // namespace morlak
