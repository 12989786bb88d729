// Text helpers shared by every layer: case rules, trimming, number parsing and a
// name=value string list. Comparisons "without regard to case" are ASCII-only,
// which is how the server compares names, paths and identifiers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morlak {

bool SameText(std::string_view a, std::string_view b);
// Case-insensitive ordering (negative, zero, positive), as used to sort lists.
int CompareText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
std::string Trim(std::string_view s);
std::string_view TrimView(std::string_view s);
// Position of the first case-insensitive occurrence of needle, or npos.
size_t FindText(std::string_view haystack, std::string_view needle);

// Replaces every occurrence of `from` (case-sensitive) in one linear pass.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Decimal integer with an optional sign; values of 3+ characters starting with "0x" or
// "0X" are hexadecimal. False (and `out` untouched) when the text is not a number or
// does not fit.
bool TryParseInt(std::string_view text, int32_t& out);
bool TryParseInt64(std::string_view text, int64_t& out);
int32_t StrToIntDef(std::string_view text, int32_t fallback);

// Splits text at CR LF, LF or CR; a NUL ends the text. A final line break adds no line.
std::vector<std::string> SplitLines(std::string_view text);
// The same for data files: a NUL cuts only the rest of its own line, so one stray byte
// never loses the lines after it.
std::vector<std::string> SplitDataLines(std::string_view text);
// Control characters as visible escapes ("\r", "\n", "\t", "\x00"), so text from
// outside can never start a line of its own.
std::string EscapeControlCharacters(std::string_view text);
// Joins lines with CR LF after each one, the last included.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// An ordered list of text lines, most of them name=value pairs. Names are matched
// without regard to case.
class TStringList {
 public:
  std::vector<std::string> lines;

  size_t Count() const { return lines.size(); }
  bool Empty() const { return lines.empty(); }
  void Add(std::string line) { lines.push_back(std::move(line)); }
  void Clear() { lines.clear(); }

  // Index of the first line whose name (text before the first "=") equals name, or -1.
  int IndexOfName(std::string_view name) const;
  // Value of the first line with that name; empty when absent.
  std::string Value(std::string_view name) const;
  // Replaces the first line with that name, or appends one; an empty value removes it.
  void SetValue(std::string_view name, std::string_view value);
  // Lines joined by CR LF, each line followed by one.
  std::string Text() const;
};

std::string NameOfLine(std::string_view line);
std::string ValueOfLine(std::string_view line);

}  // namespace morlak
