#include "engine/http_codings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <vector>

#include "platform/text.h"

namespace morlak {

const char* const kDayWords[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthWords[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr double kUnixEpochDay = 25569.0;

void SplitPathTail(std::string_view s, TIdTargetParts& parts) {
  size_t c = s.find('?');
  if (c == std::string_view::npos) c = s.find('=');
  const size_t p = c == std::string_view::npos ? s.rfind('/')
                   : c == 0                    ? std::string_view::npos
                                               : s.rfind('/', c - 1);
  const size_t docStart = p == std::string_view::npos ? 0 : p + 1;
  parts.Path.assign(s.substr(0, docStart));
  if (c == std::string_view::npos) {
    parts.Document.assign(s.substr(docStart));
  } else {
    parts.Document.assign(s.substr(docStart, c - docStart));
    parts.Params.assign(s.substr(c));
  }
}

}  // namespace

namespace {

// Calls emit with every decoded character.
template <typename Emit>
void WalkPercentEncoded(std::string_view text, Emit&& emit) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      emit(text[i]);
      continue;
    }
    const std::string_view hex = text.substr(i + 1, 2);
    i += hex.size();
    int value = 0;
    bool valid = !hex.empty();
    for (char c : hex) {
      const int d = HexDigit(c);
      if (d < 0) valid = false;
      value = value * 16 + d;
    }
    if (valid && value > 0) emit(static_cast<char>(value));
  }
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  // Sized exactly first: a large value of escapes would otherwise hold three times the
  // memory its decoded text needs.
  size_t length = 0;
  WalkPercentEncoded(text, [&length](char) { ++length; });
  std::string out;
  out.reserve(length);
  WalkPercentEncoded(text, [&out](char c) { out += c; });
  return out;
}

TIdTargetParts SplitTarget(std::string_view target) {
  TIdTargetParts parts;
  std::string s(target);
  for (char& c : s)
    if (c == '\\') c = '/';
  bool bookmarkFound = false;
  const size_t scheme = s.find("://");
  if (scheme == std::string::npos) {
    SplitPathTail(s, parts);
  } else {
    parts.Protocol = s.substr(0, scheme);
    std::string_view rest = std::string_view(s).substr(scheme + 3);
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    const size_t at = authority.find('@');
    if (at != std::string_view::npos) {
      const std::string_view user = authority.substr(0, at);
      const size_t colon = user.find(':');
      parts.Username.assign(user.substr(0, colon));
      if (colon != std::string_view::npos && !parts.Username.empty())
        parts.Password.assign(user.substr(colon + 1));
      authority = authority.substr(at + 1);
    }
    const size_t colon = authority.find(':');
    parts.Host.assign(authority.substr(0, colon));
    if (colon != std::string_view::npos) parts.Port.assign(authority.substr(colon + 1));
    std::string rooted(1, '/');
    rooted.append(rest);
    SplitPathTail(rooted, parts);
    const size_t hash = parts.Document.find('#');
    if (hash != std::string::npos) {
      parts.Bookmark = parts.Document.substr(hash + 1);
      parts.Document.resize(hash);
      bookmarkFound = true;
    }
  }
  if (!bookmarkFound) {
    const size_t hash = parts.Params.find('#');
    if (hash != std::string::npos) parts.Params.resize(hash);
  }
  return parts;
}

TDateTime LocalToUtc(TDateTime localTime) {
  const DateTimeParts p = DecodeDateTime(localTime);
  const double wholeSeconds = static_cast<double>(LocalDateTimeToUnix(localTime));
  return wholeSeconds / 86400.0 + kUnixEpochDay + p.millisecond / kMsPerDay;
}

std::string DateTimeToInternetStr(TDateTime localTime) {
  const DateTimeParts p = DecodeDateTime(localTime);
  const int offset = LocalUtcOffsetMinutes();
  const int magnitude = offset < 0 ? -offset : offset;
  char buf[80];
  std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %c%02d%02d", kDayWords[p.dayOfWeek],
                p.day, kMonthWords[p.month - 1], p.year, p.hour, p.minute, p.second,
                offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return buf;
}

namespace {

// `value` with at least `digits` digits, zeros in front (printf's "%.<digits>d").
char* PutNumber(char* out, int value, int digits) {
  if (value < 0) *out++ = '-';
  const unsigned magnitude =
      value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char text[12];
  char* last = std::to_chars(text, std::end(text), magnitude).ptr;
  for (int n = static_cast<int>(last - text); n < digits; ++n) *out++ = '0';
  return std::copy(text, last, out);
}

size_t WriteDateTimeGmt(TDateTime localTime, char (&buffer)[kGmtDateSize]) {
  // Written by hand: printf's machinery cost more than the rest of a small file's header.
  const DateTimeParts p = DecodeDateTime(LocalToUtc(localTime));
  // At most 36 characters, whatever the year.
  char* out = buffer;
  auto put = [&out](std::string_view text) { out = std::copy(text.begin(), text.end(), out); };
  put(kDayWords[p.dayOfWeek]);
  put(", ");
  out = PutNumber(out, p.day, 2);
  put(" ");
  put(kMonthWords[p.month - 1]);
  put(" ");
  out = PutNumber(out, p.year, 4);
  put(" ");
  out = PutNumber(out, p.hour, 2);
  put(":");
  out = PutNumber(out, p.minute, 2);
  put(":");
  out = PutNumber(out, p.second, 2);
  put(" GMT");
  return static_cast<size_t>(out - buffer);
}

}  // namespace

size_t FormatDateTimeGmt(TDateTime localTime, char (&buffer)[kGmtDateSize]) {
  // A served file's date comes again and again.
  thread_local std::optional<TDateTime> lastTime;
  thread_local char lastText[kGmtDateSize];
  thread_local size_t lastSize = 0;
  if (localTime != lastTime) {
    lastSize = WriteDateTimeGmt(localTime, lastText);
    lastTime = localTime;
  }
  std::copy_n(lastText, lastSize, buffer);
  return lastSize;
}

std::string DateTimeToGmtStr(TDateTime localTime) {
  char buffer[kGmtDateSize];
  return std::string(buffer, FormatDateTimeGmt(localTime, buffer));
}

namespace {

int MonthOf(std::string_view word) {
  if (word.size() < 3) return 0;
  for (int m = 0; m < 12; ++m)
    if (SameText(word.substr(0, 3), kMonthWords[m])) return m + 1;
  return 0;
}

// Zone names in minutes east of UTC.
bool ZoneOf(std::string_view word, int& minutes) {
  static const struct {
    const char* name;
    int minutes;
  } kZones[] = {{"GMT", 0},    {"UT", 0},     {"UTC", 0},    {"Z", 0},
                {"EST", -300}, {"EDT", -240}, {"CST", -360}, {"CDT", -300},
                {"MST", -420}, {"MDT", -360}, {"PST", -480}, {"PDT", -420}};
  for (const auto& z : kZones)
    if (SameText(word, z.name)) {
      minutes = z.minutes;
      return true;
    }
  if (word.size() == 5 && (word[0] == '+' || word[0] == '-')) {
    int32_t hhmm;
    if (!TryParseInt(word.substr(1), hhmm)) return false;
    minutes = (hhmm / 100 * 60 + hhmm % 100) * (word[0] == '-' ? -1 : 1);
    return true;
  }
  return false;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ReadClock(std::string_view word, int& h, int& n, int& s) {
  int values[3] = {0, 0, 0};
  int count = 0;
  size_t start = 0;
  while (count < 3) {
    const size_t colon = word.find(':', start);
    const std::string_view part = word.substr(start, colon - start);
    if (!AllDigits(part) || part.size() > 2) return false;
    values[count++] = std::stoi(std::string(part));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (count < 2) return false;
  h = values[0], n = values[1], s = values[2];
  return h < 24 && n < 60 && s < 61;
}

}  // namespace

TDateTime InternetStrToDateTime(std::string_view text) {
  const std::optional<int64_t> utcSeconds = InternetStrToUnixTime(text);
  return utcSeconds ? UnixToLocalDateTime(static_cast<std::time_t>(*utcSeconds)) : 0;
}

std::optional<int64_t> InternetStrToUnixTime(std::string_view text) {
  std::vector<std::string_view> words;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool sep = i == text.size() || text[i] == ' ' || text[i] == ',' || text[i] == '\t';
    // "06-Nov-94" splits at its dashes; a dash that starts a zone offset does not.
    const bool dash = i < text.size() && text[i] == '-' && i > start;
    if (sep || dash) {
      if (i > start) words.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  int day = 0, month = 0, year = -1, hour = 0, minute = 0, second = 0, zone = 0;
  bool haveClock = false;
  for (std::string_view w : words) {
    int m = MonthOf(w);
    if (m != 0 && month == 0 && !AllDigits(w)) {
      month = m;
    } else if (!haveClock && w.find(':') != std::string_view::npos) {
      if (!ReadClock(w, hour, minute, second)) return std::nullopt;
      haveClock = true;
    } else if (AllDigits(w) && w.size() <= 4) {
      const int v = std::stoi(std::string(w));
      if (day == 0 && w.size() <= 2 && v >= 1 && v <= 31)
        day = v;
      else if (year < 0)
        year = w.size() <= 2 ? (v < 50 ? 2000 + v : 1900 + v) : v;
      else
        return std::nullopt;
    } else {
      ZoneOf(w, zone);  // day names and unknown words are skipped
    }
  }
  if (day == 0 || month == 0 || year < 1601) return std::nullopt;
  static const int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day > kDaysInMonth[month - 1]) return std::nullopt;
  const TDateTime asWritten = EncodeDateTime(year, month, day, hour, minute, std::min(second, 59));
  return static_cast<int64_t>(std::round((asWritten - kUnixEpochDay) * 86400.0)) - zone * 60;
}

}  // namespace morlak
