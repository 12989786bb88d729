#include "platform/text.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace morlak {

namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

template <typename T>
bool ParseInteger(std::string_view text, T& out) {
  if (text.empty()) return false;
  bool negative = false;
  std::string_view digits = text;
  if (digits.front() == '+' || digits.front() == '-') {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    digits = text.substr(2);
    negative = false;
  }
  if (digits.empty()) return false;
  using U = std::make_unsigned_t<T>;
  U magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  if (base == 16) {
    // Hexadecimal text gives the bit pattern, so 0xFFFFFFFF reads as -1.
    out = static_cast<T>(magnitude);
    return true;
  }
  const U limit = static_cast<U>(std::numeric_limits<T>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) return false;
  out = negative ? static_cast<T>(0 - magnitude) : static_cast<T>(magnitude);
  return true;
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Most texts compared arrive in the same letter case.
  if (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0) return true;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(LowerAscii(a[i]));
    const unsigned char y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool StartsText(std::string_view prefix, std::string_view text) {
  return text.size() >= prefix.size() && SameText(prefix, text.substr(0, prefix.size()));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpperAscii(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerAscii(c);
  return r;
}

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Trim(std::string_view s) {
  return std::string(TrimView(s));
}

size_t FindText(std::string_view haystack, std::string_view needle) {
  if (needle.size() > haystack.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= haystack.size(); ++i)
    if (SameText(haystack.substr(i, needle.size()), needle)) return i;
  return std::string_view::npos;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t start = 0;
  for (size_t hit = text.find(from); hit != std::string_view::npos; hit = text.find(from, start)) {
    if (out.empty()) out.reserve(text.size());
    out.append(text, start, hit - start);
    out.append(to);
    start = hit + from.size();
  }
  if (start == 0) return std::string(text);
  out.append(text, start);
  return out;
}

bool TryParseInt(std::string_view text, int32_t& out) {
  return ParseInteger(text, out);
}
bool TryParseInt64(std::string_view text, int64_t& out) {
  return ParseInteger(text, out);
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  int32_t v;
  return TryParseInt(text, v) ? v : fallback;
}

namespace {

std::vector<std::string> SplitAtBreaks(std::string_view text, bool cutAtNul) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t brk = text.find_first_of("\r\n", start);
    if (brk == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, brk - start));
    start = brk + 1;
    if (text[brk] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  if (cutAtNul)
    for (std::string& line : lines) line.resize(std::strlen(line.c_str()));
  return lines;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  return SplitAtBreaks(text, false);
}

std::vector<std::string> SplitDataLines(std::string_view text) {
  return SplitAtBreaks(text, text.find('\0') != std::string_view::npos);
}

std::string EscapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      out += c;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

std::string JoinLinesCrLf(const std::vector<std::string>& lines) {
  size_t total = 0;
  for (const auto& l : lines) total += l.size() + 2;
  std::string out;
  out.reserve(total);
  for (const auto& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

std::string NameOfLine(std::string_view line) {
  const size_t eq = line.find('=');
  return std::string(eq == std::string_view::npos ? line : line.substr(0, eq));
}

std::string ValueOfLine(std::string_view line) {
  const size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string() : std::string(line.substr(eq + 1));
}

int TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos && SameText(line.substr(0, eq), name))
      return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Value(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueOfLine(lines[i]);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) lines.erase(lines.begin() + i);
    return;
  }
  std::string line(name);
  line += '=';
  line += value;
  if (i >= 0)
    lines[i] = std::move(line);
  else
    lines.push_back(std::move(line));
}

std::string TStringList::Text() const {
  return JoinLinesCrLf(lines);
}

}  // namespace morlak
