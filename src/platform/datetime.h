// The date-time number used by every store: days since 1899-12-30 in the whole part,
// time of day as the fraction, local time; 0 means never.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace morlak {

using TDateTime = double;

constexpr double kMsPerDay = 86400000.0;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int dayOfWeek = 0;  // 0 = Sunday; filled by DecodeDateTime
};

TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
DateTimeParts DecodeDateTime(TDateTime value);

// The current local date-time. Every "now" of the server comes from here, so tests can
// set a fixed clock and never depend on the wall clock or the time zone.
TDateTime Now();
void SetFixedNow(std::optional<TDateTime> value);

// Conversions between POSIX time and local date-time numbers.
TDateTime UnixToLocalDateTime(std::time_t t);
std::time_t LocalDateTimeToUnix(TDateTime value);

// The machine's current offset of local time from UTC in minutes, east positive.
int LocalUtcOffsetMinutes();

// Whole milliseconds between two date-times, counted from days, hours, minutes,
// seconds and milliseconds of the span.
int64_t MillisecondsBetween(TDateTime a, TDateTime b);

// The locale's formats (the C library's LC_TIME and LC_NUMERIC).
std::string FormatShortDate(TDateTime value);
std::string FormatLongTime(TDateTime value);
char DecimalSeparator();
// Reads "short date + blank + long time" in the locale's formats, as written by the two
// above; false for text that does not match.
bool TryParseShortDateLongTime(const std::string& text, TDateTime& out);

// General floating-point text with up to 15 significant digits and the locale's
// decimal separator ("0" for zero, "45000.5", "1E-5").
std::string FormatFloatGeneral(double value);
// The same text written into the buffer; returns its length.
constexpr size_t kFloatGeneralSize = 64;
size_t FormatFloatGeneral(double value, char (&out)[kFloatGeneralSize]);
// Fixed text with `decimals` digits after the separator and at least one integer digit,
// rounded half away from zero ("0.00" and "0.0" formats).
std::string FormatFixed(double value, int decimals);
// Reads the general or fixed form written above (either separator accepted).
bool TryParseFloat(const std::string& text, double& out);

}  // namespace morlak
