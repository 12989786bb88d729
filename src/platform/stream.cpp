#include "platform/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace morlak {

namespace {

int64_t ModifiedNsOf(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

TFileStream::TFileStream(int fd, const struct stat& st)
    : fd_(fd), size_(static_cast<int64_t>(st.st_size)), modifiedNs_(ModifiedNsOf(st)) {}

TFileStream::TFileStream(const std::string& path, Mode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead:
      // Not blocking keeps a named pipe from stalling the open; it is refused below.
      flags |= O_RDONLY | O_NONBLOCK;
      break;
    case Mode::kCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR | O_CREAT;
      break;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) throw EStreamError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  struct stat st;
  const char* refusal = nullptr;
  if (::fstat(fd_, &st) != 0)
    refusal = std::strerror(errno);
  else if (S_ISDIR(st.st_mode))
    refusal = "Is a directory";
  else if (mode == Mode::kRead && !S_ISREG(st.st_mode))
    refusal = "Not a regular file";  // a pipe or device has no size and may never end
  if (refusal) {
    ::close(fd_);
    fd_ = -1;
    throw EStreamError("Cannot open file \"" + path + "\". " + refusal);
  }
  size_ = static_cast<int64_t>(st.st_size);
  modifiedNs_ = ModifiedNsOf(st);
}

TFileStream::TFileStream(TFileStream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      position_(other.position_),
      size_(other.size_),
      modifiedNs_(other.modifiedNs_) {}

TFileStream& TFileStream::operator=(TFileStream&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    position_ = other.position_;
    size_ = other.size_;
    modifiedNs_ = other.modifiedNs_;
  }
  return *this;
}

TOpenedPath TFileStream::OpenExisting(const std::string& path) {
  TOpenedPath result;
  if (path.empty()) return result;
  struct stat st;
  // Not blocking keeps a named pipe from stalling the open; regular files ignore the flag.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR || ::stat(path.c_str(), &st) != 0) return result;
    result.kind = S_ISDIR(st.st_mode) ? TOpenedPath::Kind::kFolder : TOpenedPath::Kind::kFile;
    return result;
  }
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    result.kind = TOpenedPath::Kind::kFile;
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    result.kind = TOpenedPath::Kind::kFolder;
    return result;
  }
  result.kind = TOpenedPath::Kind::kFile;
  if (S_ISREG(st.st_mode))
    result.file = TFileStream(fd, st);
  else
    ::close(fd);
  return result;
}

std::unique_ptr<TFileStream> TFileStream::FromHandle(int handle) {
  struct stat st;
  if (handle < 0 || ::fstat(handle, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  const off_t position = ::lseek(handle, 0, SEEK_CUR);
  const int fd = ::fcntl(handle, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  std::unique_ptr<TFileStream> stream(new TFileStream(fd, st));
  stream->position_ = position > 0 ? position : 0;
  return stream;
}

std::unique_ptr<TFileStream> TFileStream::CreateTemporary() {
  const char* folder = std::getenv("TMPDIR");
  if (!folder || !*folder) folder = "/tmp";
  const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<TFileStream>(new TFileStream(fd, st));
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

size_t TFileStream::Read(void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, count, position_);
    if (n >= 0) {
      position_ += n;
      return static_cast<size_t>(n);
    }
    if (errno != EINTR) throw EStreamError(std::string("Read error. ") + std::strerror(errno));
  }
}

void TFileStream::Write(const void* buffer, size_t count) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pwrite(fd_, p, count, position_);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EStreamError(std::string("Stream write error. ") + std::strerror(errno));
    }
    p += n;
    count -= static_cast<size_t>(n);
    position_ += n;
  }
  if (position_ > size_) size_ = position_;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= Size()) return 0;
  const size_t n = std::min(count, static_cast<size_t>(Size() - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  const size_t end = static_cast<size_t>(position_) + count;
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<int64_t>(end);
}

}  // namespace morlak
