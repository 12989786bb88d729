// The main window's layout kept in "mainhttpsettings.lst" in the program folder:
// position, size, selected tab and the widths of the three lists' header sections.
#pragma once

#include <array>
#include <string>

namespace morlak {

struct WindowLayout {
  static constexpr const char* kFileName = "mainhttpsettings.lst";
  static constexpr int kSections = 6;
  using Widths = std::array<int, kSections>;

  int top = 0, left = 0, width = 0, height = 0;
  int tabIndex = 0;
  Widths memberWidths{};   // section "servertab"
  Widths activeWidths{};   // section "activetab"
  Widths monitorWidths{};  // section "monitortab"
};

// Reads every key present in `path` over `layout`; a missing key keeps its value.
// False when the file does not exist.
bool ReadWindowLayout(const std::string& path, WindowLayout& layout);
// Writes every key; keeps other lines of an existing file. False when it cannot be written.
bool WriteWindowLayout(const std::string& path, const WindowLayout& layout);

}  // namespace morlak
