// The storage-file layout and the walk over its entries. A container is a 256-byte header
// (4, "SFH1", zeros) and then entries back to back: a 256-byte name field (length byte +
// name), a 16-byte age field and a 16-byte size field (length byte + decimal text), then
// the content bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace morlak {

namespace storage_layout {
constexpr size_t kHeaderSize = 256;
constexpr char kMagic[] = "\x04SFH1";
constexpr size_t kMagicSize = 5;
constexpr size_t kNameFieldSize = 256;
constexpr size_t kNumberFieldSize = 16;
constexpr size_t kAgeOffset = kNameFieldSize;
constexpr size_t kSizeOffset = kAgeOffset + kNumberFieldSize;
constexpr size_t kEntryFieldsSize = kSizeOffset + kNumberFieldSize;
constexpr size_t kMaxNameLength = 255;
constexpr size_t kMaxNumberLength = kNumberFieldSize - 1;
constexpr size_t kCopyChunk = 8001;
}  // namespace storage_layout

struct StorageEntry {
  std::string name;
  int32_t age = 0;  // packed DOS date and time
  int32_t size = 0;
  int64_t contentOffset = 0;
};

// Reads entries one by one without ever reading past the end of the container or
// trusting a length before the bytes are known to exist. Problems are added to `messages`
// in the words the user sees.
class StorageEntryScanner {
 public:
  enum class Step {
    kEntry,     // a sound entry whose content lies inside the container
    kBadEntry,  // the name was read but the age, the size or the content is unusable
    kBroken,    // the container ends inside an entry's fields
    kEnd,
  };

  StorageEntryScanner(TStream& container, std::vector<std::string>& messages);

  // Checks the header and places the scan on the first entry.
  bool CheckHeader();
  // On kEntry and kBadEntry `entry.name` holds the entry's name.
  Step Next(StorageEntry& entry);
  // Writes the content of an entry that Next returned as kEntry to `out` at its position.
  bool CopyContent(const StorageEntry& entry, TStream& out);

 private:
  size_t ReadAt(int64_t position, char* buffer, size_t count);
  // The text of the number field at `offset` in `fields`; its characters run on into the
  // following bytes of the container when the length byte says so.
  std::string FieldText(const char* fields, size_t offset, int64_t fieldsPosition);

  TStream& container_;
  std::vector<std::string>& messages_;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

}  // namespace morlak
