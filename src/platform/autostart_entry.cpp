#include "platform/autostart_entry.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/files.h"

namespace morlak {

namespace {

constexpr const char* kEntryName = "morlak.desktop";

// One Exec argument: quoted, with the characters that are special inside quotes escaped,
// then the string-value escapes of a desktop entry (backslash doubled, "%" doubled).
std::string ExecArgument(const std::string& arg) {
  std::string quoted = "\"";
  for (const char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string out;
  for (const char c : quoted) {
    if (c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

}  // namespace

std::string AutostartEntryPath() {
  const std::string base = DesktopBaseFolder("XDG_CONFIG_HOME", ".config");
  return base.empty() ? base : base + "autostart/" + kEntryName;
}

std::string AutostartEntryText(const std::string& program, const std::vector<std::string>& args) {
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Morlak\n"
      "Comment=Personal web server\n"
      "Exec=";
  text.append(ExecArgument(program));
  for (const auto& arg : args) text.append(" ").append(ExecArgument(arg));
  text.append("\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
  return text;
}

bool WriteAutostartEntry(const std::string& program, const std::vector<std::string>& args) {
  const std::string path = AutostartEntryPath();
  if (path.empty() || !FileExists(program)) return false;
  std::error_code error;
  std::filesystem::create_directories(ExtractFileDir(path), error);
  if (error) return false;
  return WriteFileAtomic(path, AutostartEntryText(program, args));
}

bool RemoveAutostartEntry() {
  const std::string path = AutostartEntryPath();
  if (path.empty()) return true;
  return std::remove(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace morlak
