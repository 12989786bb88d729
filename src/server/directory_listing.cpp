#include "server/directory_listing.h"

#include <string_view>

#include "platform/datetime.h"
#include "platform/files.h"

namespace morlak {

namespace {

constexpr std::string_view kHeaderCell = "    <td bgcolor=#ffffff><font size=2 color=#000000>";
constexpr std::string_view kRowCell = "    <td bgcolor=#dddddd><font size=2 color=#000000>";
constexpr std::string_view kCellEnd = "    </td>";

void AddLine(std::string& out, std::string_view line) {
  out.append(line);
  out.append("\r\n");
}

void AddCell(std::string& out, std::string_view cell, std::string_view content) {
  AddLine(out, cell);
  AddLine(out, content);
  AddLine(out, kCellEnd);
}

// The folder to read and the name prefix its entries must have, as the search pattern
// directory + "*" selects them.
struct SearchPattern {
  std::string folder;
  std::string namePrefix;
};

SearchPattern ToSearchPattern(const std::string& directory) {
  if (directory.empty() || directory.back() == kPathSeparator) return {directory, ""};
  const size_t sep = directory.rfind(kPathSeparator);
  if (sep == std::string::npos) return {"", directory};
  return {directory.substr(0, sep + 1), directory.substr(sep + 1)};
}

}  // namespace

std::string BuildDirectoryListing(const std::string& linkPrefix, const std::string& directory) {
  const SearchPattern pattern = ToSearchPattern(directory);
  const auto entries = ListDirectory(pattern.folder);
  if (!entries) return {};

  std::string out;
  bool matched = false;
  for (const DirectoryEntry& entry : *entries) {
    if (!entry.name.starts_with(pattern.namePrefix)) continue;
    if (!matched) {
      matched = true;
      AddLine(out, "<table width=100%>");
      AddLine(out, "  <tr valign=top>");
      for (std::string_view title :
           {"      File name", "      Size", "      Type", "      Date Modified"})
        AddCell(out, kHeaderCell, title);
      AddLine(out, "  </tr>");
    }
    if (entry.isDirectory) continue;
    AddLine(out, "  <tr valign=top>");
    AddCell(out, kRowCell,
            "      <a href=\"" + linkPrefix + entry.name + "\">" + entry.name + "</a>");
    AddCell(out, kRowCell,
            entry.size > 0 ? "      " + std::to_string(entry.size) + "b" : "       ");
    AddCell(out, kRowCell, "     File");
    AddCell(out, kRowCell,
            "      " + FormatShortDate(entry.modified) + " " + FormatLongTime(entry.modified));
    AddLine(out, "  </tr>");
  }
  if (matched) AddLine(out, "</table>");
  return out;
}

}  // namespace morlak
