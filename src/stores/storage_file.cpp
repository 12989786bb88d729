#include "stores/storage_file.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/files.h"
#include "stores/storage_entry_scanner.h"

namespace morlak {

using namespace storage_layout;

namespace {

using Messages = std::vector<std::string>;
using EntryAction = std::function<bool(StorageEntryScanner&, const StorageEntry&)>;

// Only plain names are written, so an imported container cannot place files outside the
// target folder or into another drive or stream.
bool IsPlainFileName(const std::string& name) {
  constexpr std::string_view kForbidden("/\\:\0", 4);
  return !name.empty() && name != "." && name.find_first_of(kForbidden) == std::string::npos &&
         name.find("..") == std::string::npos;
}

void PutField(char* field, const std::string& text) {
  field[0] = static_cast<char>(text.size());
  std::memcpy(field + 1, text.data(), text.size());
}

// Runs `act` on the first sound entry named `name` (ASCII case ignored).
bool FindEntry(const std::string& container, const std::string& name, Messages& messages,
               const EntryAction& act) {
  if (!FileExists(container)) return false;
  TFileStream stream(container, TFileStream::Mode::kRead);
  StorageEntryScanner scanner(stream, messages);
  if (!scanner.CheckHeader()) return false;
  StorageEntry entry;
  while (scanner.Next(entry) == StorageEntryScanner::Step::kEntry)
    if (SameText(entry.name, name)) return act(scanner, entry);
  return false;
}

// Appends the entry of the file at `path`; the reason in the user's words when the file
// cannot be read. Write errors are thrown.
std::string AppendFile(TStream& out, const std::string& path) {
  const std::string readFailed = "Storage file not written, cannot read \"" + path + "\".";
  std::unique_ptr<TFileStream> in;
  try {
    in = std::make_unique<TFileStream>(path, TFileStream::Mode::kRead);
  } catch (const EStreamError&) {
    return readFailed;
  }
  const int64_t size = in->Size();
  const auto modified = FileModTime(path);
  if (!modified) return readFailed;
  if (size > std::numeric_limits<int32_t>::max())
    return "Storage file not written, \"" + path + "\" is larger than 2 GB.";

  char fields[kEntryFieldsSize] = {};
  PutField(fields, ExtractFileName(path).substr(0, kMaxNameLength));
  PutField(fields + kAgeOffset, std::to_string(DateTimeToDosDateTime(*modified)));
  PutField(fields + kSizeOffset, std::to_string(size));
  out.Write(fields, sizeof fields);

  char chunk[kCopyChunk];
  for (int64_t remaining = size; remaining > 0;) {
    size_t got = 0;
    try {
      got = in->Read(chunk, static_cast<size_t>(std::min<int64_t>(remaining, kCopyChunk)));
    } catch (const EStreamError&) {
      return readFailed;
    }
    if (got == 0) return readFailed;  // the file shrank while it was copied
    out.Write(chunk, got);
    remaining -= static_cast<int64_t>(got);
  }
  return {};
}

// Empty on success, else why the container was not written.
std::string WriteContainer(const std::string& container, const std::vector<std::string>& paths,
                           FileAccess access) {
  const std::string writeFailed = "Storage file not written, cannot write \"" + container + "\".";
  try {
    AtomicFileWriter out(container, access);
    char header[kHeaderSize] = {};
    std::memcpy(header, kMagic, kMagicSize);
    out.Stream().Write(header, sizeof header);
    for (const std::string& path : paths) {
      std::string problem = AppendFile(out.Stream(), path);
      if (!problem.empty()) return problem;
    }
    return out.Commit() ? std::string() : writeFailed;
  } catch (const EStreamError&) {
    return writeFailed;
  }
}

}  // namespace

template <typename T, typename Work>
T TOzm_StorageFile::Run(T failed, Work work) {
  Messages messages;
  T result = failed;
  {
    std::lock_guard lock(lock_);
    try {
      result = work(messages);
    } catch (const EStreamError& e) {
      messages.push_back(e.what());
    }
  }
  if (OnMessage)
    for (const std::string& message : messages) OnMessage(message);
  return result;
}

void TOzm_StorageFile::SetFilename(const std::string& filename) {
  std::lock_guard lock(lock_);
  filename_ = filename;
}

std::string TOzm_StorageFile::Filename() {
  std::lock_guard lock(lock_);
  return filename_;
}

bool TOzm_StorageFile::SaveFiles(const std::vector<std::string>& paths, FileAccess access) {
  return Run(false, [&](Messages& messages) {
    if (filename_.empty() || paths.empty()) return false;
    std::string problem = WriteContainer(filename_, paths, access);
    if (problem.empty()) return true;
    messages.push_back(std::move(problem));
    return false;
  });
}

TStringList TOzm_StorageFile::ListEntries() {
  TStringList names;
  Run(false, [&](Messages& messages) {
    if (!FileExists(filename_)) return false;
    TFileStream stream(filename_, TFileStream::Mode::kRead);
    StorageEntryScanner scanner(stream, messages);
    if (!scanner.CheckHeader()) return false;
    StorageEntry entry;
    for (;;) {
      const auto step = scanner.Next(entry);
      if (step == StorageEntryScanner::Step::kEntry || step == StorageEntryScanner::Step::kBadEntry)
        names.Add(entry.name);
      if (step != StorageEntryScanner::Step::kEntry) return step == StorageEntryScanner::Step::kEnd;
    }
  });
  return names;
}

bool TOzm_StorageFile::ExtractToStream(const std::string& name, TStream& stream) {
  return Run(false, [&](Messages& messages) {
    return FindEntry(filename_, name, messages,
                     [&](StorageEntryScanner& scanner, const StorageEntry& entry) {
                       stream.Seek(0);
                       const bool copied = scanner.CopyContent(entry, stream);
                       stream.Seek(0);
                       return copied;
                     });
  });
}

bool TOzm_StorageFile::ExtractToFolder(const std::string& name, const std::string& folder,
                                       FileAccess access) {
  if (!IsPlainFileName(name)) return false;
  const std::string target = IncludeTrailingSeparator(folder) + name;
  return Run(false, [&](Messages& messages) {
    return FindEntry(filename_, name, messages,
                     [&](StorageEntryScanner& scanner, const StorageEntry& entry) {
                       AtomicFileWriter out(target, access);
                       return scanner.CopyContent(entry, out.Stream()) && out.Commit() &&
                              SetFileModTime(target, DosDateTimeToDateTime(entry.age));
                     });
  });
}

int TOzm_StorageFile::EntrySize(const std::string& name) {
  return Run(-1, [&](Messages& messages) {
    int size = -1;
    FindEntry(filename_, name, messages, [&](StorageEntryScanner&, const StorageEntry& entry) {
      size = entry.size;
      return true;
    });
    return size;
  });
}

bool TOzm_StorageFile::HasEntry(const std::string& name) {
  return EntrySize(name) >= 0;
}

}  // namespace morlak
