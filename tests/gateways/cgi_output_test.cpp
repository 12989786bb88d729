#include "gateways/cgi_output.h"

#include <gtest/gtest.h>

namespace morlak {
namespace {

TEST(CgiOutputTest, HeaderBlockEndsAtTheFirstBlankLineWhateverItsLineBreaks) {
  struct Case {
    std::string output;
    bool hasHeaderBlock;
    std::vector<std::string> lines;
    std::string body;
  };
  const Case cases[] = {
      {"Status: 404 Not Found\r\nContent-Type: text/plain\r\n\r\ngone",
       true,
       {"Status: 404 Not Found", "Content-Type: text/plain"},
       "gone"},
      {"Content-Type: text/plain\n\nbody\r\n\r\nmore",
       true,
       {"Content-Type: text/plain"},
       "body\r\n\r\nmore"},
      {"A: 1\r\nB: 2\n\r\nbody", true, {"A: 1", "B: 2"}, "body"},
      {"A: 1\nB: 2\r\n\nbody", true, {"A: 1", "B: 2"}, "body"},
      {"A: 1\r\n\r\n", true, {"A: 1"}, ""},
      {"just text\r\nand more\r\n", false, {}, "just text\r\nand more\r\n"},
      // A bare LF block must open with a header line.
      {"Hello\n\nWorld\n", false, {}, "Hello\n\nWorld\n"},
      {"\n\nbody", false, {}, "\n\nbody"},
      {"", false, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const TCgiOutputParts parts = SplitCgiOutput(c.output);
    EXPECT_EQ(parts.hasHeaderBlock, c.hasHeaderBlock);
    EXPECT_EQ(parts.headerLines, c.lines);
    EXPECT_EQ(c.output.substr(parts.bodyStart), c.body);
  }
}

TEST(CgiOutputTest, StatusAndHeaderLinesThatCanGoOut) {
  const std::pair<std::string, int> statuses[] = {
      {"404 Not Found", 404}, {"302", 302}, {"", 200},    {"abc", 200},
      {"-12", 200},           {"42", 200},  {"099", 200}, {"999 x", 999},
  };
  for (const auto& [value, code] : statuses) EXPECT_EQ(CgiStatusCode(value), code) << value;

  const std::pair<std::string, bool> lines[] = {
      {"X-Test: 1", true},
      {"Content-Type:text/plain", true},
      {"no colon here", false},
      {": empty", false},
      {"Bad Name: x", false},
      {" folded: x", false},
      {"", false},
  };
  for (const auto& [line, sendable] : lines)
    EXPECT_EQ(IsSendableHeaderLine(line), sendable) << line;
}

}  // namespace
}  // namespace morlak
