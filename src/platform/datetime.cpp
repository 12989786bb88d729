#include "platform/datetime.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace morlak {

namespace {

constexpr int64_t kUnixEpochDay = 25569;  // 1970-01-01 as a day number

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

std::atomic<bool> g_fixed{false};
std::atomic<double> g_fixedValue{0};

std::tm ToTm(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_wday = p.dayOfWeek;
  tm.tm_isdst = -1;
  return tm;
}

std::string FormatWith(const char* format, TDateTime value) {
  const std::tm tm = ToTm(value);
  char buf[128];
  const size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

void SwapSeparator(std::string& text) {
  const char sep = DecimalSeparator();
  if (sep == '.') return;
  for (char& c : text)
    if (c == '.') c = sep;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const double days = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
  return days + ms / kMsPerDay;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  int64_t day = static_cast<int64_t>(std::floor(value));
  int64_t ms = std::llround((value - static_cast<double>(day)) * kMsPerDay);
  if (ms >= static_cast<int64_t>(kMsPerDay)) {
    ++day;
    ms = 0;
  }
  DateTimeParts p;
  CivilFromDays(day - kUnixEpochDay, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  // 1899-12-30 was a Saturday.
  p.dayOfWeek = static_cast<int>(((day % 7) + 7 + 6) % 7);
  return p;
}

TDateTime Now() {
  if (g_fixed.load(std::memory_order_relaxed)) return g_fixedValue.load();
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  // The local calendar fields change once a second; converting takes the C library's global
  // time-zone lock, which request threads would otherwise queue on several times a request.
  // Within the second only the milliseconds change; the sum is EncodeDateTime's, so the
  // value is the same to the last bit.
  thread_local std::time_t cachedSecond = -1;
  thread_local double days = 0, secondMs = 0;
  if (ts.tv_sec != cachedSecond) {
    std::tm tm;
    localtime_r(&ts.tv_sec, &tm);
    days = static_cast<double>(DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
                               kUnixEpochDay);
    secondMs = ((tm.tm_hour * 60.0 + tm.tm_min) * 60.0 + tm.tm_sec) * 1000.0;
    cachedSecond = ts.tv_sec;
  }
  return days + (secondMs + static_cast<int>(ts.tv_nsec / 1000000)) / kMsPerDay;
}

void SetFixedNow(std::optional<TDateTime> value) {
  if (value) g_fixedValue.store(*value);
  g_fixed.store(value.has_value());
}

TDateTime UnixToLocalDateTime(std::time_t t) {
  // The same file's date comes again and again; each conversion takes the zone lock.
  thread_local std::optional<std::time_t> lastTime;
  thread_local TDateTime lastResult = 0;
  if (t == lastTime) return lastResult;
  std::tm tm;
  localtime_r(&t, &tm);
  lastResult = EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec);
  lastTime = t;
  return lastResult;
}

std::time_t LocalDateTimeToUnix(TDateTime value) {
  // mktime reads the zone file's state again on every call (a stat and the C library's
  // zone lock), and a served file gives the same date request after request.
  thread_local std::optional<TDateTime> lastValue;
  thread_local std::time_t lastResult = 0;
  if (value == lastValue) return lastResult;
  std::tm tm = ToTm(value);
  lastResult = std::mktime(&tm);
  lastValue = value;
  return lastResult;
}

int LocalUtcOffsetMinutes() {
  const std::time_t t = std::time(nullptr);
  std::tm tm;
  localtime_r(&t, &tm);
  return static_cast<int>(tm.tm_gmtoff / 60);
}

int64_t MillisecondsBetween(TDateTime a, TDateTime b) {
  return std::llround(std::fabs(a - b) * kMsPerDay);
}

std::string FormatShortDate(TDateTime value) {
  return FormatWith(nl_langinfo(D_FMT), value);
}

std::string FormatLongTime(TDateTime value) {
  return FormatWith(nl_langinfo(T_FMT), value);
}

bool TryParseShortDateLongTime(const std::string& text, TDateTime& out) {
  const std::string format = std::string(nl_langinfo(D_FMT)) + " " + nl_langinfo(T_FMT);
  std::tm tm{};
  const char* end = ::strptime(text.c_str(), format.c_str(), &tm);
  if (!end) return false;
  while (*end == ' ') ++end;
  if (*end != '\0') return false;
  out = EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                       tm.tm_sec);
  return true;
}

char DecimalSeparator() {
  const char* point = localeconv()->decimal_point;
  return (point && *point) ? *point : '.';
}

std::string FormatFloatGeneral(double value) {
  char out[kFloatGeneralSize];
  return std::string(out, FormatFloatGeneral(value, out));
}

namespace {

// The 15 significant digits of |value| (rounded half to even, as printf does), trailing zeros
// dropped, and the decimal exponent of the first one.
struct SignificantDigits {
  char digits[16];
  size_t count = 0;
  int exponent = 0;
};

// Exact for 1 <= |value| < 1e15, which takes in every time stamp: the value is m / 2^shift
// with m below 2^53, so m * 10^k for the k decimals kept fits in 128 bits and is divided
// with its remainder, where a general formatter pays for any exponent.
bool ExactSignificantDigits(double value, SignificantDigits& out) {
  static constexpr auto kPow10 = [] {
    std::array<uint64_t, 16> powers{1};
    for (size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
    return powers;
  }();
  const double a = std::fabs(value);
  if (!(a >= 1 && a < 1e15)) return false;
  const uint64_t bits = std::bit_cast<uint64_t>(a);
  const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int shift = 1075 - static_cast<int>(bits >> 52);  // 3..52 in this range
  int integerDigits = 1;
  while (integerDigits < 15 && (m >> shift) >= kPow10[integerDigits]) ++integerDigits;
  using Wide = unsigned __int128;
  const Wide scaled = static_cast<Wide>(m) * kPow10[15 - integerDigits];
  uint64_t q = static_cast<uint64_t>(scaled >> shift);
  const Wide rest = scaled - (static_cast<Wide>(q) << shift);
  const Wide half = Wide{1} << (shift - 1);
  if (rest > half || (rest == half && (q & 1))) ++q;
  out.exponent = integerDigits - 1;
  if (q == kPow10[15]) {  // rounded up to the next power of ten
    q = kPow10[14];
    ++out.exponent;
  }
  for (int i = 14; i >= 0; --i, q /= 10) out.digits[i] = static_cast<char>('0' + q % 10);
  out.count = 15;
  while (out.count > 1 && out.digits[out.count - 1] == '0') --out.count;
  return true;
}

SignificantDigits SignificantDigitsOf(double value) {
  SignificantDigits out;
  if (ExactSignificantDigits(value, out)) return out;
  // to_chars rounds as printf does at a fraction of its cost.
  char sci[64];
  const auto written =
      std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, 14);
  const std::string_view scientific(sci, static_cast<size_t>(written.ptr - sci));
  const size_t e = scientific.find('e');
  for (char c : scientific.substr(0, e))
    if (c >= '0' && c <= '9' && out.count < sizeof out.digits) out.digits[out.count++] = c;
  while (out.count > 1 && out.digits[out.count - 1] == '0') --out.count;
  std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+'),
                  scientific.data() + scientific.size(), out.exponent);
  return out;
}

}  // namespace

size_t FormatFloatGeneral(double value, char (&out)[kFloatGeneralSize]) {
  if (value == 0 || !std::isfinite(value)) {
    out[0] = '0';
    return 1;
  }
  // Rounded to 15 significant digits first, so the choice between the fixed and the
  // scientific form sees the exponent of the rounded value (999999999999999.9 is 1E15).
  // The text is put together in place: every new session formats its start time.
  const SignificantDigits significant = SignificantDigitsOf(value);
  const char* digits = significant.digits;
  const size_t count = significant.count;
  const int exponent = significant.exponent;

  const char point = DecimalSeparator();
  char* p = out;
  if (value < 0) *p++ = '-';
  const auto put = [&p](const char* from, size_t n) {
    std::memcpy(p, from, n);
    p += n;
  };
  if (exponent >= 15 || exponent < -4) {
    *p++ = digits[0];
    if (count > 1) {
      *p++ = point;
      put(digits + 1, count - 1);
    }
    *p++ = 'E';
    p = std::to_chars(p, out + sizeof out, exponent).ptr;
  } else if (exponent < 0) {
    *p++ = '0';
    *p++ = point;
    for (int i = 0; i < -exponent - 1; ++i) *p++ = '0';
    put(digits, count);
  } else {
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (count <= integerDigits) {
      put(digits, count);
      for (size_t i = count; i < integerDigits; ++i) *p++ = '0';
    } else {
      put(digits, integerDigits);
      *p++ = point;
      put(digits + integerDigits, count - integerDigits);
    }
  }
  return static_cast<size_t>(p - out);
}

std::string FormatFixed(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  const double rounded = std::round(value * scale) / scale;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded);
  std::string text = buf;
  if (text == "-0" || text.find_first_not_of("-0.") == std::string::npos)
    if (text[0] == '-') text.erase(0, 1);  // no "-0.00"
  SwapSeparator(text);
  return text;
}

bool TryParseFloat(const std::string& text, double& out) {
  std::string s = text;
  const char sep = DecimalSeparator();
  for (char& c : s)
    if (c == sep) c = '.';
  if (s.empty()) return false;
  const char* begin = s.data();
  if (*begin == '+') ++begin;
  double v;
  auto [end, ec] = std::from_chars(begin, s.data() + s.size(), v);
  // "nan" and "inf" are not numbers any stored value can hold.
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace morlak
