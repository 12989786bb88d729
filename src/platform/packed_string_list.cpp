#include "platform/packed_string_list.h"

#include <cstring>
#include <stdexcept>

#include "platform/text.h"

namespace morlak {

namespace {

constexpr size_t kLengthBytes = sizeof(uint32_t);

uint32_t CheckedLength(size_t size) {
  if (size > UINT32_MAX) throw std::length_error("Line too long for a packed list.");
  return static_cast<uint32_t>(size);
}

}  // namespace

void TPackedStringList::Add(std::string_view line) {
  const uint32_t length = CheckedLength(line.size());
  data_.append(reinterpret_cast<const char*>(&length), kLengthBytes).append(line);
  ++count_;
}

void TPackedStringList::AddPair(std::string_view name, std::string_view value) {
  const uint32_t length = CheckedLength(name.size() + 1 + value.size());
  // Sized once and filled, rather than four appends that each check the room.
  const size_t at = data_.size();
  data_.resize(at + kLengthBytes + length);
  char* p = data_.data() + at;
  std::memcpy(p, &length, kLengthBytes);
  p += kLengthBytes;
  std::memcpy(p, name.data(), name.size());
  p[name.size()] = '=';
  if (!value.empty()) std::memcpy(p + name.size() + 1, value.data(), value.size());
  ++count_;
}

void TPackedStringList::Reserve(size_t lineBytes, size_t lines) {
  data_.reserve(lineBytes + lines * kLengthBytes);
}

void TPackedStringList::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  count_ = 0;
}

std::string_view TPackedStringList::LineAt(size_t offset, uint32_t length) const {
  return std::string_view(data_).substr(offset + kLengthBytes, length);
}

TPackedStringList::Found TPackedStringList::Find(std::string_view name) const {
  // A line's name ends at its first "=", so a name holding one matches no line; any other
  // name matches exactly when the line has "=" right after an equal text.
  if (name.find('=') != std::string_view::npos) return {};
  const char* const begin = data_.data();
  const char* const end = begin + data_.size();
  for (const char* p = begin; p < end;) {
    uint32_t length;
    std::memcpy(&length, p, kLengthBytes);
    const char* line = p + kLengthBytes;
    if (length > name.size() && line[name.size()] == '=' &&
        SameText(std::string_view(line, name.size()), name))
      return {static_cast<size_t>(p - begin), length};
    p = line + length;
  }
  return {};
}

int TPackedStringList::IndexOfName(std::string_view name) const {
  const Found found = Find(name);
  if (found.offset == std::string::npos) return -1;
  int index = 0;
  for (size_t offset = 0; offset < found.offset; ++index) {
    uint32_t length;
    std::memcpy(&length, data_.data() + offset, kLengthBytes);
    offset += kLengthBytes + length;
  }
  return index;
}

std::string TPackedStringList::Value(std::string_view name) const {
  const Found found = Find(name);
  if (found.offset == std::string::npos) return std::string();
  const std::string_view line = LineAt(found.offset, found.length);
  return std::string(line.substr(line.find('=') + 1));
}

void TPackedStringList::SetValue(std::string_view name, std::string_view value) {
  const Found found = Find(name);
  if (value.empty()) {
    if (found.offset != std::string::npos) {
      data_.erase(found.offset, kLengthBytes + found.length);
      --count_;
    }
    return;
  }
  const uint32_t length = CheckedLength(name.size() + 1 + value.size());
  if (found.offset == std::string::npos) {
    // Grown in one step: a new session's list fills up line by line.
    data_.reserve(data_.size() + kLengthBytes + length);
    data_.append(reinterpret_cast<const char*>(&length), kLengthBytes);
    data_.append(name).append(1, '=').append(value);
    ++count_;
    return;
  }
  // The line takes the name as given, letter case included; the new text is written in
  // place, with no line built on the side.
  const std::string_view old = LineAt(found.offset, found.length);
  if (old.size() == length && old.starts_with(name) && old.ends_with(value)) return;
  const size_t begin = found.offset + kLengthBytes;
  data_.replace(begin, found.length, length, '=');
  std::memcpy(data_.data() + found.offset, &length, kLengthBytes);
  std::memcpy(data_.data() + begin, name.data(), name.size());
  std::memcpy(data_.data() + begin + name.size() + 1, value.data(), value.size());
}

bool TPackedStringList::HoldsAll(
    std::initializer_list<std::pair<std::string_view, std::string_view>> pairs) const {
  uint32_t met = 0;  // bit i: pair i has met the first line of its name
  const char* const end = data_.data() + data_.size();
  for (const char* p = data_.data(); p < end;) {
    uint32_t length;
    std::memcpy(&length, p, kLengthBytes);
    const std::string_view line(p + kLengthBytes, length);
    uint32_t bit = 1;
    for (const auto& [name, value] : pairs) {
      if (!(met & bit) && line.size() > name.size() && line[name.size()] == '=') {
        // The name as written settles most lines; another letter case still names the
        // line, which SetValue would then rewrite.
        const bool asWritten = line.starts_with(name);
        if (asWritten || SameText(line.substr(0, name.size()), name)) {
          if (!asWritten || value.empty() || line.size() != name.size() + 1 + value.size() ||
              !line.ends_with(value))
            return false;
          met |= bit;
        }
      }
      bit <<= 1;
    }
    p += kLengthBytes + length;
  }
  uint32_t bit = 1;
  for (const auto& pair : pairs) {
    if (!(met & bit) && !pair.second.empty()) return false;
    bit <<= 1;
  }
  return true;
}

std::vector<std::string> TPackedStringList::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(count_);
  for (size_t offset = 0; offset < data_.size();) {
    uint32_t length;
    std::memcpy(&length, data_.data() + offset, kLengthBytes);
    lines.emplace_back(LineAt(offset, length));
    offset += kLengthBytes + length;
  }
  return lines;
}

void TPackedStringList::SetLines(const std::vector<std::string>& lines) {
  size_t bytes = 0;
  for (const std::string& line : lines) bytes += line.size();
  Clear();
  Reserve(bytes, lines.size());
  for (const std::string& line : lines) Add(line);
}

}  // namespace morlak
