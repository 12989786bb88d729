#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

// Now() keeps the calendar fields of the current second per thread; it must still follow the
// clock, millisecond part included, and agree with the local conversion of the same second.
TEST(NowClock, FollowsTheLocalClockAcrossSeconds) {
  TDateTime previous = Now();
  for (int i = 0; i < 30; ++i) {
    // The system clock reads the same clock as Now(); std::time may lag it by a tick.
    using Clock = std::chrono::system_clock;
    const std::time_t before = Clock::to_time_t(Clock::now());
    const TDateTime now = Now();
    const std::time_t after = Clock::to_time_t(Clock::now());
    EXPECT_GE(now, previous);
    EXPECT_GE(now, UnixToLocalDateTime(before));
    EXPECT_LT(now, UnixToLocalDateTime(after) + 1.0 / 86400);
    previous = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TEST(TryParseInt, DecimalAndHexadecimalRules) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0x1F", true, 31},
      {"0X1f", true, 31},
      {"0x", false, 0},
      {"-0x1F", false, 0},
      {"0x1G", false, 0},
      {"+12", true, 12},
      {"-12", true, -12},
      {" 1", false, 0},
      {"", false, 0},
      {"2147483647", true, INT32_MAX},
      {"2147483648", false, 0},
      {"-2147483648", true, INT32_MIN},
      {"0x100000000", false, 0},
      {"0x80000000", true, INT32_MIN},
      {"007", true, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t value = 12345;
    EXPECT_EQ(TryParseInt(c.text, value), c.ok);
    EXPECT_EQ(value, c.ok ? c.value : 12345);
  }
}

TEST(FormatFloatGeneral, FifteenSignificantDigitsAndTheExponentForm) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {45000.5, "45000.5"},
      {-2.5, "-2.5"},
      {1.0 / 3, "0.333333333333333"},
      {0.1 + 0.2, "0.3"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {-1.5e-7, "-1.5E-7"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {999999999999999.9, "1E15"},
      {1.2345678901234567e17, "1.23456789012346E17"},
      {45292.000011574074, "45292.0000115741"},
      {100000000000000.5, "100000000000000"},  // a tie goes to the even digit
      {100000000000001.5, "100000000000002"},
      {-99999.999999999999, "-100000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatFloatGeneral(c.value), c.text);
    double back = 0;
    ASSERT_TRUE(TryParseFloat(c.text, back));
    EXPECT_EQ(FormatFloatGeneral(back), c.text);
  }
}

TEST(FormatFloatGeneral, AgreesWithPrintfAcrossTheFixedRange) {
  std::mt19937_64 random(27);
  for (int i = 0; i < 20000; ++i) {
    const double value = std::ldexp(std::uniform_real_distribution<double>(1, 2)(random),
                                    static_cast<int>(random() % 49));
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.15G", value);
    ASSERT_EQ(FormatFloatGeneral(value), expected) << std::hexfloat << value;
  }
}

TEST(FormatFixed, RoundsHalfAwayFromZeroWithoutNegativeZero) {
  struct Case {
    double value;
    int decimals;
    const char* text;
  };
  const Case cases[] = {
      {0.125, 2, "0.13"},  {-0.125, 2, "-0.13"},     {2.5, 0, "3"},     {-2.5, 0, "-3"},
      {0.25, 1, "0.3"},    {-0.001, 2, "0.00"},      {-0.04, 1, "0.0"}, {0, 1, "0.0"},
      {1234.5, 0, "1235"}, {45000.75, 1, "45000.8"}, {7, 2, "7.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatFixed(c.value, c.decimals), c.text);
  }
}

TEST(DecodeDateTime, DayOfWeekAndFields) {
  struct Case {
    int year, month, day;
    int dayOfWeek;  // 0 = Sunday
  };
  const Case cases[] = {
      {1899, 12, 30, 6}, {1899, 12, 29, 5}, {1899, 12, 23, 6}, {1900, 1, 1, 1},
      {2000, 1, 1, 6},   {2024, 2, 29, 4},  {2024, 3, 3, 0},   {2038, 1, 19, 2},
  };
  for (const auto& c : cases) {
    const DateTimeParts p = DecodeDateTime(EncodeDateTime(c.year, c.month, c.day, 13, 14, 15, 16));
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
                 std::to_string(c.day));
    EXPECT_EQ(p.dayOfWeek, c.dayOfWeek);
    EXPECT_EQ(p.year, c.year);
    EXPECT_EQ(p.month, c.month);
    EXPECT_EQ(p.day, c.day);
    EXPECT_EQ(p.hour, 13);
    EXPECT_EQ(p.minute, 14);
    EXPECT_EQ(p.second, 15);
    EXPECT_EQ(p.millisecond, 16);
  }
  // Half a millisecond before midnight rounds into the next day.
  const DateTimeParts next = DecodeDateTime(EncodeDateTime(2024, 2, 28) + 0.99999999999);
  EXPECT_EQ(next.day, 29);
  EXPECT_EQ(next.hour, 0);
}

TEST(TextLines, DataLinesSurviveANulAndLogTextIsEscaped) {
  EXPECT_EQ(SplitDataLines(std::string("a=1\r\nb=2\0x\r\nc=3\n\0\rd", 19)),
            (std::vector<std::string>{"a=1", "b=2", "c=3", "", "d"}));
  // Pages keep the old rule: the NUL ends the text.
  EXPECT_EQ(SplitLines(std::string("a\r\nb\0c\r\nd", 9)), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(EscapeControlCharacters(std::string("a\r\n\t\0\x1b\x7f\\ \xc3\xa9", 11)),
            "a\\r\\n\\t\\x00\\x1b\\x7f\\ \xc3\xa9");
}

TEST(Files, DataFilesAreReadAndAppendedOnlyAsRegularFiles) {
  test_support::TempFolder dir;
  const std::string pipe = dir.File("httpsettings.lst");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  // Neither call may wait for the other end of the pipe.
  EXPECT_FALSE(ReadWholeFile(pipe).has_value());
  EXPECT_FALSE(AppendToFile(pipe, "line\r\n"));
  EXPECT_FALSE(ReadWholeFile(dir.Path()).has_value());
}

TEST(Files, StaleTemporaryFilesOfEndedWritersAreRemoved) {
  test_support::TempFolder dir;
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string own = std::to_string(::getpid()), gone = std::to_string(ended);
  const struct {
    std::string name;
    bool removed;
  } cases[] = {
      {"httpsettings.lst.tmp" + gone + "_0", true},
      {"statlist.lst.tmp" + gone + "_12", true},
      {"httpmembers.lst.tmp" + own + "_3", false},  // a save of this process in progress
      {"httpmembers.lst.tmp1_3", false},            // a running process
      {"notes.tmp" + gone, false},                  // not a name the writer makes
      {"notes.tmp" + gone + "_x", false},
      {"httpsettings.lst", false},
  };
  for (const auto& c : cases) dir.Write(c.name, "x");
  EXPECT_EQ(RemoveStaleTemporaryFiles(dir.Path()), 2);
  for (const auto& c : cases) EXPECT_EQ(FileExists(dir.File(c.name)), !c.removed) << c.name;
}

TEST(Files, AppendToFileCreatesAndAppends) {
  test_support::TempFolder dir;
  const std::string path = dir.File("log.txt");
  ASSERT_TRUE(AppendToFile(path, "one\r\n"));
  ASSERT_TRUE(AppendToFile(path, "two\r\n"));
  EXPECT_EQ(dir.Read("log.txt"), "one\r\ntwo\r\n");
  EXPECT_FALSE(AppendToFile(dir.File("missing/log.txt"), "x"));
}

}  // namespace
}  // namespace morlak
