// Builds storage-file bytes by hand, so tests can make containers the writer never would.
#pragma once

#include <string>

namespace morlak::test_support {

inline std::string StorageHeader(char padding = '\0') {
  std::string header(256, padding);
  header.replace(0, 5, "\x04SFH1");
  return header;
}

// A length byte, the text, zero padding up to `width` bytes.
inline std::string StorageField(const std::string& text, size_t width) {
  std::string field(width, '\0');
  field[0] = static_cast<char>(text.size());
  field.replace(1, text.size(), text);
  return field;
}

inline std::string StorageEntryBytes(const std::string& name, const std::string& content,
                                     const std::string& age = "1389121295") {
  return StorageField(name, 256) + StorageField(age, 16) +
         StorageField(std::to_string(content.size()), 16) + content;
}

}  // namespace morlak::test_support
