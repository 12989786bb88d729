// A file written through a stream: the bytes go to a temporary file beside the target,
// which replaces the target only on Commit, so a crash or a failed write leaves the old
// file (or none) and never half of a new one. For content too large to build in memory.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/stream.h"

namespace morlak {

class AtomicFileWriter {
 public:
  // Throws EStreamError when the temporary file cannot be created.
  explicit AtomicFileWriter(std::string path, FileAccess access = FileAccess::kShared);
  // Removes the temporary file unless it was committed.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  TStream& Stream() { return *stream_; }
  // Flushes the bytes written so far to disk, so that a Commit right after has next to
  // nothing left to wait for; false when that fails.
  bool Sync();
  // Flushes the bytes to disk and moves them over the target; false when that fails.
  bool Commit();

 private:
  std::string path_;
  std::string temp_;
  std::unique_ptr<TFileStream> stream_;
  bool committed_ = false;
};

// Removes the temporary files that writers of processes no longer running left in the
// folder (a save cut short by a kill); a file of a running process is kept. Returns how
// many were removed.
int RemoveStaleTemporaryFiles(const std::string& folder);

}  // namespace morlak
