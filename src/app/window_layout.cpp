#include "app/window_layout.h"

#include "platform/ini_file.h"

namespace morlak {

namespace {

constexpr const char* kMain = "mainsettings";

struct SectionOf {
  const char* name;
  WindowLayout::Widths WindowLayout::*widths;
};
constexpr SectionOf kListSections[] = {{"servertab", &WindowLayout::memberWidths},
                                       {"activetab", &WindowLayout::activeWidths},
                                       {"monitortab", &WindowLayout::monitorWidths}};

std::string SectionKey(int i) {
  return "section" + std::to_string(i);
}

}  // namespace

bool ReadWindowLayout(const std::string& path, WindowLayout& layout) {
  IniFile file(path);
  if (!file.Exists()) return false;
  layout.top = file.ReadInteger(kMain, "top", layout.top);
  layout.left = file.ReadInteger(kMain, "left", layout.left);
  layout.width = file.ReadInteger(kMain, "width", layout.width);
  layout.height = file.ReadInteger(kMain, "height", layout.height);
  layout.tabIndex = file.ReadInteger(kMain, "tabindex", layout.tabIndex);
  for (const auto& section : kListSections) {
    auto& widths = layout.*section.widths;
    for (int i = 0; i < WindowLayout::kSections; ++i)
      widths[i] = file.ReadInteger(section.name, SectionKey(i), widths[i]);
  }
  return true;
}

bool WriteWindowLayout(const std::string& path, const WindowLayout& layout) {
  IniFile file(path);
  file.WriteInteger(kMain, "top", layout.top);
  file.WriteInteger(kMain, "left", layout.left);
  file.WriteInteger(kMain, "width", layout.width);
  file.WriteInteger(kMain, "height", layout.height);
  file.WriteInteger(kMain, "tabindex", layout.tabIndex);
  for (const auto& section : kListSections)
    for (int i = 0; i < WindowLayout::kSections; ++i)
      file.WriteInteger(section.name, SectionKey(i), (layout.*section.widths)[i]);
  return file.Save();
}

}  // namespace morlak
