#include "platform/atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace morlak {

namespace {

std::string TemporaryPathBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path, bool ownerOnly)
    : path_(std::move(path)),
      temp_(TemporaryPathBeside(path_)),
      stream_(std::make_unique<TFileStream>(temp_, TFileStream::Mode::kCreate)) {
  // The replacement keeps the permissions of the file it replaces (a settings file
  // holding a key pass phrase may have been made private).
  struct stat old;
  if (ownerOnly)
    ::fchmod(stream_->Handle(), S_IRUSR | S_IWUSR);
  else if (::stat(path_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(stream_->Handle(), old.st_mode & 07777);
}

AtomicFileWriter::~AtomicFileWriter() {
  stream_.reset();
  if (!committed_) ::unlink(temp_.c_str());
}

bool AtomicFileWriter::Commit() {
  if (committed_) return true;
  if (!stream_ || ::fsync(stream_->Handle()) != 0) return false;
  stream_.reset();
  committed_ = std::rename(temp_.c_str(), path_.c_str()) == 0;
  return committed_;
}

}  // namespace morlak
