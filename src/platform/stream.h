// Byte streams: a file on disk or a buffer in memory. File streams expose their
// descriptor so the engine can hand them to the kernel for zero-copy sending.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

struct stat;

namespace morlak {

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to `count` bytes at the position; 0 at the end.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes every byte or throws.
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  virtual void Seek(int64_t position) = 0;
};

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TFileStream;
struct TOpenedPath;

class TFileStream : public TStream {
 public:
  enum class Mode { kRead, kCreate, kReadWrite };
  // Throws EStreamError with the system's reason when the file cannot be opened.
  // The size is taken once at opening and followed by this stream's own writes, so a
  // served file costs one status call.
  TFileStream(const std::string& path, Mode mode);
  // Never throws; a file that exists but cannot be opened has kind kFile and no stream.
  static TOpenedPath OpenExisting(const std::string& path);
  // A stream over a copy of an open descriptor of a regular file, positioned where the
  // descriptor is; nullptr when it is not one. The caller's descriptor stays its own.
  static std::unique_ptr<TFileStream> FromHandle(int handle);
  // A nameless read-write file in the system's folder for temporary files, gone when
  // closed; nullptr when none can be made.
  static std::unique_ptr<TFileStream> CreateTemporary();
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  // Held by value where a file changes hands per request, so serving one allocates nothing.
  TFileStream(TFileStream&& other) noexcept;
  TFileStream& operator=(TFileStream&& other) noexcept;

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  int Handle() const { return fd_; }
  // Last change of the file's content when it was opened, in nanoseconds since 1970 UTC.
  int64_t ModifiedNs() const { return modifiedNs_; }

 private:
  TFileStream(int fd, const struct stat& st);

  int fd_ = -1;
  int64_t position_ = 0;
  int64_t size_ = 0;
  int64_t modifiedNs_ = 0;
};

// What a path names, learnt with one open and one status call. `file` is open for reading
// when the path names a readable regular file.
struct TOpenedPath {
  enum class Kind { kNone, kFile, kFolder };
  Kind kind = Kind::kNone;
  std::optional<TFileStream> file;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  const std::string& Data() const { return data_; }
  std::string& Data() { return data_; }

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace morlak
