// The storage-file component: writes named files into one container file and reads them
// back (data export and import, the branding file). Every operation opens the container
// named by Filename, works and closes it.
// The class is TOzm_StorageFile.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"

namespace morlak {

class TOzm_StorageFile {
 public:
  // Receives each message meant for the user. It runs on the caller's thread after the
  // operation has released the component's lock, so it may show a dialog or call back in.
  std::function<void(const std::string&)> OnMessage;

  void SetFilename(const std::string& filename);
  std::string Filename();

  // Writes a new container holding the files at `paths` in order; false when Filename or
  // the list is empty or a file cannot be read or the container cannot be written (the
  // previous container, if any, then stays as it was).
  bool SaveFiles(const std::vector<std::string>& paths, FileAccess access = FileAccess::kShared);
  // Names of the entries in container order, up to the first damaged entry (its name
  // included when it could be read).
  TStringList ListEntries();
  // Copies the content of the first entry named `name` (ASCII case ignored) into `stream`
  // from its beginning, without truncating it, and rewinds the stream.
  bool ExtractToStream(const std::string& name, TStream& stream);
  // Writes the entry to folder/name with the entry's time stamp. Refuses names that could
  // leave the folder: separators, a drive prefix, "..". `access` says who may read a file
  // the entry creates.
  bool ExtractToFolder(const std::string& name, const std::string& folder,
                       FileAccess access = FileAccess::kShared);
  // Content size of the first entry named `name`, or -1.
  int EntrySize(const std::string& name);
  bool HasEntry(const std::string& name);

 private:
  using Messages = std::vector<std::string>;

  // Runs `work` under the lock, turns a stream error into a message and delivers the
  // messages once the lock is released.
  template <typename T, typename Work>
  T Run(T failed, Work work);

  std::mutex lock_;
  std::string filename_;
};

}  // namespace morlak
