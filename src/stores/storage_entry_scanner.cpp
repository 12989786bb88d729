#include "stores/storage_entry_scanner.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace morlak {

using namespace storage_layout;

namespace {

constexpr size_t kShownFieldText = 39;

// Decimal only: the writer never produces another form, so anything else is damage.
bool ParseDecimal(const std::string& text, int32_t& out) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  if (begin == end || *begin == '+' || (*begin == '-' && begin != text.data())) return false;
  const auto [stop, error] = std::from_chars(begin, end, out);
  return error == std::errc() && stop == end;
}

std::string FieldMessage(const char* what, const std::string& text) {
  return std::string(what) + " (\"" + text.substr(0, kShownFieldText) + "\").";
}

}  // namespace

StorageEntryScanner::StorageEntryScanner(TStream& container, std::vector<std::string>& messages)
    : container_(container), messages_(messages), size_(container.Size()) {}

size_t StorageEntryScanner::ReadAt(int64_t position, char* buffer, size_t count) {
  container_.Seek(position);
  size_t done = 0;
  while (done < count) {
    const size_t n = container_.Read(buffer + done, count - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool StorageEntryScanner::CheckHeader() {
  char header[kHeaderSize];
  if (ReadAt(0, header, kHeaderSize) != kHeaderSize ||
      std::memcmp(header, kMagic, kMagicSize) != 0) {
    messages_.push_back("Storage file header check failed.");
    return false;
  }
  position_ = kHeaderSize;
  return true;
}

std::string StorageEntryScanner::FieldText(const char* fields, size_t offset,
                                           int64_t fieldsPosition) {
  const size_t length = static_cast<unsigned char>(fields[offset]);
  if (length <= kMaxNumberLength) return std::string(fields + offset + 1, length);
  const int64_t start = fieldsPosition + static_cast<int64_t>(offset) + 1;
  std::string text(static_cast<size_t>(std::min<int64_t>(length, size_ - start)), '\0');
  text.resize(ReadAt(start, text.data(), text.size()));
  return text;
}

StorageEntryScanner::Step StorageEntryScanner::Next(StorageEntry& entry) {
  if (position_ >= size_) return Step::kEnd;
  char fields[kEntryFieldsSize];
  if (ReadAt(position_, fields, kEntryFieldsSize) != kEntryFieldsSize) {
    messages_.push_back("Storage file ends inside an entry header.");
    position_ = size_;
    return Step::kBroken;
  }
  const int64_t fieldsPosition = position_;
  position_ = size_;  // a bad entry ends the scan; a sound one moves it on below
  entry.name.assign(fields + 1, static_cast<unsigned char>(fields[0]));

  const std::string ageText = FieldText(fields, kAgeOffset, fieldsPosition);
  const std::string sizeText = FieldText(fields, kSizeOffset, fieldsPosition);
  if (ageText.size() > kMaxNumberLength || !ParseDecimal(ageText, entry.age)) {
    messages_.push_back(FieldMessage("File age read failed", ageText));
    return Step::kBadEntry;
  }
  if (sizeText.size() > kMaxNumberLength || !ParseDecimal(sizeText, entry.size) || entry.size < 0) {
    messages_.push_back(FieldMessage("File size read failed", sizeText));
    return Step::kBadEntry;
  }
  entry.contentOffset = fieldsPosition + static_cast<int64_t>(kEntryFieldsSize);
  if (entry.size > size_ - entry.contentOffset) {
    messages_.push_back("Storage file ends inside the content of \"" + entry.name + "\".");
    return Step::kBadEntry;
  }
  position_ = entry.contentOffset + entry.size;
  return Step::kEntry;
}

bool StorageEntryScanner::CopyContent(const StorageEntry& entry, TStream& out) {
  char chunk[kCopyChunk];
  int64_t position = entry.contentOffset;
  int64_t remaining = entry.size;
  while (remaining > 0) {
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(remaining, kCopyChunk));
    const size_t got = ReadAt(position, chunk, wanted);
    if (got != wanted) {
      messages_.push_back("Storage file ends inside the content of \"" + entry.name + "\".");
      return false;
    }
    out.Write(chunk, got);
    position += static_cast<int64_t>(got);
    remaining -= static_cast<int64_t>(got);
  }
  return true;
}

}  // namespace morlak
