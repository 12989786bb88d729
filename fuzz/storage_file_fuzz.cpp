// libFuzzer target for the storage-file entry scan: any bytes as a container must end the
// scan without reading past the end, and every sound entry must copy out whole.
#include <cstdint>
#include <string>
#include <vector>

#include "stores/storage_entry_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using morlak::StorageEntryScanner;
  morlak::TMemoryStream container(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<std::string> messages;
  StorageEntryScanner scanner(container, messages);
  if (!scanner.CheckHeader()) return 0;
  morlak::StorageEntry entry;
  while (scanner.Next(entry) == StorageEntryScanner::Step::kEntry) {
    morlak::TMemoryStream content;
    if (!scanner.CopyContent(entry, content) || content.Size() != entry.size) __builtin_trap();
  }
  return 0;
}
