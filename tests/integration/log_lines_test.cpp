// Client text that reaches a log line (user name, Host) cannot start a line of its own:
// control characters arrive escaped in the window and in the log file alike.
#include <gtest/gtest.h>

#include "support/core_fixture.h"
#include "support/http_fetch.h"

namespace morlak::test_support {
namespace {

bool HasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

TEST(LogLines, ClientControlCharactersAreEscapedEverywhere) {
  const struct {
    const char* name;
    std::string request;
    const char* escaped;  // how the client's text must appear
  } cases[] = {
      {"user name", "GET /?action=login&user=x%0d%0afake&pass=p HTTP/1.1\r\nHost: h\r\n\r\n",
       "x\\r\\nfake"},
      {"raw CR in Host", "GET /nothere HTTP/1.1\r\nHost: a\rINJECTED\r\n\r\n", "a\\rINJECTED"},
      {"tab and escape in Host",
       "GET /nothere HTTP/1.1\r\nHost: a\tb\x1b"
       "c\r\n\r\n",
       "a\\tb\\x1b"
       "c"},
  };
  CoreFixture fixture({"logtofile=1"});
  fixture.Start();
  for (const auto& c : cases) Fetch(fixture.Port(), c.request);
  const std::vector<std::string> window = fixture.front.Lines();
  const std::vector<std::string> file = fixture.core->LogFile().Lines();
  for (const auto& c : cases) {
    auto has = [&c](const std::vector<std::string>& lines) {
      for (const auto& line : lines)
        if (line.find(c.escaped) != std::string::npos) return true;
      return false;
    };
    EXPECT_TRUE(has(window)) << c.name;
    EXPECT_TRUE(has(file)) << c.name;
  }
  for (const auto& line : window) EXPECT_FALSE(HasLineBreakOrNul(line)) << line;
  for (const auto& line : file) EXPECT_FALSE(HasLineBreakOrNul(line)) << line;
}

}  // namespace
}  // namespace morlak::test_support
