#include "server/path_and_text_helpers.h"

#include "platform/datetime.h"
#include "platform/files.h"

namespace morlak {

namespace {
bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}
}  // namespace

std::string AddTrailingBackslash(std::string text) {
  if (!text.empty() && text.back() != kPathSeparator) text += kPathSeparator;
  return text;
}

std::string ToLocalPath(const std::string& text) {
  std::string path = text;
  for (char& c : path)
    if (IsSeparator(c)) c = kPathSeparator;
  if (!path.empty() && path.front() == kPathSeparator) path.erase(0, 1);
  return path;
}

std::string CollapseBackslashes(std::string text) {
  size_t kept = 0;
  for (const char c : text) {
    if (c == kPathSeparator && kept > 0 && text[kept - 1] == kPathSeparator) continue;
    text[kept++] = c;
  }
  text.resize(kept);
  return text;
}

std::string LocalPathUnder(std::string_view folder, std::string_view requestPath) {
  if (!requestPath.empty() && IsSeparator(requestPath.front())) requestPath.remove_prefix(1);
  std::string path;
  path.reserve(folder.size() + requestPath.size());
  path.append(folder).append(requestPath);
  for (size_t i = folder.size(); i < path.size(); ++i)
    if (IsSeparator(path[i])) path[i] = kPathSeparator;
  // Nearly every path has no run of separators to collapse.
  const char doubled[] = {kPathSeparator, kPathSeparator};
  if (path.find(doubled, 0, 2) == std::string::npos) return path;
  return CollapseBackslashes(std::move(path));
}

std::string DelimitedText(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += ',';
    const std::string& line = lines[i];
    bool quote = false;
    for (char c : line)
      if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') quote = true;
    if (!quote) {
      out += line;
      continue;
    }
    out += '"';
    for (char c : line) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::string HttpDateHeaderLine() {
  static const char* const kDays[] = {"Sun, ", "Mon, ", "Tue, ", "Wed, ",
                                      "Thu, ", "Fri, ", "Sat, "};
  static const char* const kMonths[] = {"Jan ", "Feb ", "Mar ", "Apr ", "May ", "Jun ",
                                        "Jul ", "Aug ", "Sep ", "Oct ", "Nov ", "Dec "};
  const TDateTime utc = Now() - LocalUtcOffsetMinutes() / 1440.0;
  const DateTimeParts p = DecodeDateTime(utc);
  return std::string("Date: ") + kDays[p.dayOfWeek] + std::to_string(p.day) + " " +
         kMonths[p.month - 1] + std::to_string(p.year) + " " + FormatLongTime(utc) + " GMT";
}

}  // namespace morlak
