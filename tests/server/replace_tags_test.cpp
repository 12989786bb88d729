#include "server/replace_tags.h"

#include <gtest/gtest.h>

#include "platform/datetime.h"
#include "platform/files.h"
#include "server/figures.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

const TDateTime kNow = EncodeDateTime(2024, 5, 6, 7, 8, 9);

class ReplaceTagsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFixedNow(kNow);
    headers_.Add("Host: example.org");
    headers_.Add("User-Agent: Tester/1.0");
    ctx_.user = "alice";
    ctx_.clientAddress = "10.0.0.7";
    ctx_.clientPort = "50123";
    ctx_.secure = "true";
    ctx_.userAgent = "Tester/1.0";
    ctx_.referer = "http://ref.example/";
    ctx_.acceptLanguage = "en-GB";
    ctx_.paramText = "a=1&b=2";
    ctx_.requestHeaders = &headers_;
    ctx_.serverSoftware = "Morlak";
    ctx_.buildNumber = 42;
    ctx_.clientCount = 3;
    ctx_.serverStartTime = kNow - 2.5 / 24;
    ctx_.statistics = &stats_;
    ctx_.monitoredFiles = &monitored_;
    ctx_.requestPrefix = "HTTP://example.org> 10.0.0.7:50123, alice";
    ctx_.logWindow = [this](const std::string& line) { log_.push_back(line); };
  }
  void TearDown() override { SetFixedNow(std::nullopt); }

  std::string Replace(const std::string& text) { return ReplaceTags(text, ctx_); }

  TStringList headers_;
  Statistics stats_;
  MonitoredFiles monitored_;
  TagContext ctx_;
  std::vector<std::string> log_;
  test_support::TempFolder folder_;
};

TEST_F(ReplaceTagsTest, SimpleTagsGiveTheirValues) {
  stats_.AddConnections(4);
  stats_.AddSessions(2);
  const struct {
    const char* page;
    const char* expected;
  } cases[] = {
      {"||BUILD", "42"},
      {"||SERVER", "Morlak"},
      {"||UPTIME", "2.50"},
      {"||CONNECTIONS", "4"},
      {"||CLIENTS", "3"},
      {"||SESSIONS", "2"},
      {"||BDOWNLOADED", "0b"},
      {"||TIME", "07:08:09"},
      {"||DATE", "05/06/24"},
      {"||USER", "alice"},
      {"||IP", "10.0.0.7"},
      {"||PORT", "50123"},
      {"||SECURE", "true"},
      {"||BDOWNAVG", "0.0b/h"},
      {"||AGENT", "Tester/1.0"},
      {"||REFERER", "http://ref.example/"},
      {"||ACCEPTLANG", "en-GB"},
      {"||UNPARSEDPAR", "a=1&b=2"},
      {"||REQUESTHEAD", "Host: example.org\r\nUser-Agent: Tester/1.0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Replace(std::string("<") + c.page + ">\r\n"), std::string("<") + c.expected + ">\r\n")
        << c.page;
    // Every occurrence goes.
    EXPECT_EQ(Replace(std::string(c.page) + " " + c.page + "\r\n"),
              std::string(c.expected) + " " + c.expected + "\r\n")
        << c.page;
  }
  EXPECT_TRUE(log_.empty());
}

TEST_F(ReplaceTagsTest, MissingStoresCountAsZeroAndNotFound) {
  ctx_.statistics = nullptr;
  ctx_.monitoredFiles = nullptr;
  EXPECT_EQ(Replace("||CONNECTIONS ||SESSIONS ||BDOWNLOADED ||MONITORCOUNT(a.zip)"),
            "0 0 0b ERR: file not found\r\n");
}

TEST_F(ReplaceTagsTest, TextWithoutTagsIsLeftAsItIs) {
  EXPECT_EQ(Replace("no tags\nhere"), "no tags\nhere");
  EXPECT_EQ(Replace("||date ||ip ||Build"), "||date ||ip ||Build");
  // A malformed argument tag stays, silently, and changes nothing else.
  for (const char* page : {"||FILESIZE()", "||FILEDATE(x", "||DIRLIST()", "||DIRLIST(",
                           "||MONITORCOUNT()", "||MONITORAVGPERDAY(a.zip"})
    EXPECT_EQ(Replace(page), page);
  EXPECT_TRUE(log_.empty());
}

TEST_F(ReplaceTagsTest, ReplacingLeavesCrLfLines) {
  EXPECT_EQ(Replace("a\nb ||BUILD\rc"), "a\r\nb 42\r\nc\r\n");
  ctx_.serverSoftware = "two\nlines";
  EXPECT_EQ(Replace("||SERVER"), "two\r\nlines\r\n");
  ctx_.referer = "x\ry";
  EXPECT_EQ(Replace("||REFERER!"), "x\r\ny!\r\n");
}

TEST_F(ReplaceTagsTest, NulInAValueEndsTheText) {
  ctx_.user = std::string("ab\0cd", 5);
  EXPECT_EQ(Replace("x||USER y\r\nmore ||IP\r\n"), "xab\r\n");
}

TEST_F(ReplaceTagsTest, OrderOfTags) {
  EXPECT_EQ(Replace("||IPX"), "10.0.0.7X\r\n");
  // ||IP is done before ||AGENT, so it stays in an agent.
  ctx_.userAgent = "Bot ||IP";
  EXPECT_EQ(Replace("||AGENT"), "Bot ||IP\r\n");
  // Later tags are not looked for in client values either.
  ctx_.userAgent = "Bot ||REFERER";
  EXPECT_EQ(Replace("||AGENT"), "Bot ||REFERER\r\n");
  // But they are in values the server makes.
  ctx_.serverSoftware = "Morlak on ||IP:||PORT";
  EXPECT_EQ(Replace("||SERVER"), "Morlak on 10.0.0.7:50123\r\n");
  // A tag cannot be formed across a client value's edge.
  ctx_.user = "||";
  EXPECT_EQ(Replace("||USERIP"), "||IP\r\n");
}

TEST_F(ReplaceTagsTest, DownloadedBytes) {
  stats_.AddBytesDownloaded(5242880);
  EXPECT_EQ(Replace("||BDOWNLOADED"), "5.00M\r\n");
  Statistics gigas;
  gigas.AddBytesDownloaded(1048576001);
  gigas.AddBytesDownloaded(1048576001);
  gigas.AddBytesDownloaded(0);
  ctx_.statistics = &gigas;
  EXPECT_EQ(Replace("||BDOWNLOADED"), "2b (2G)\r\n");
}

TEST(FiguresTest, ByteDisplayThresholds) {
  const struct {
    int64_t bytes, gigas;
    const char* expected;
  } cases[] = {
      {0, 0, "0b"},           {131071, 0, "131071b"},
      {131072, 0, "128.00k"}, {5242879, 0, "5120.00k"},
      {5242880, 0, "5.00M"},  {3670016, 2, "3584.00k (2G)"},
      {10, 1, "10b (1G)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatBytesDownloaded(c.bytes, c.gigas), c.expected) << c.bytes;
}

TEST(FiguresTest, RateThresholds) {
  const struct {
    int64_t bytes;
    double hours;
    const char* expected;
  } cases[] = {
      {0, 1, "0.0b/h"},        {131071, 1, "131071.0b/h"}, {131072, 1, "128.0k/h"},
      {524288, 1, "512.0k/h"},  // a whole 512k is still below the threshold
      {524879, 1, "512.6k/h"}, {524880, 1, "0.5M/h"},      {3145728, 2, "1.5M/h"},
      {1000, 0, "0.0b/h"},  // no time passed yet
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDownloadRate(c.bytes, c.hours), c.expected) << c.bytes << " " << c.hours;
}

TEST_F(ReplaceTagsTest, AverageAndUptimeUseTheStartTime) {
  ctx_.serverStartTime = kNow - 2.0 / 24;
  stats_.AddBytesDownloaded(300000);
  EXPECT_EQ(Replace("||BDOWNAVG ||UPTIME"), "146.5k/h 2.00\r\n");
  // A stopped server (start 0) counts from day 0 of the scale.
  ctx_.serverStartTime = 0;
  EXPECT_EQ(Replace("||UPTIME"), "1090039.14\r\n");
}

TEST_F(ReplaceTagsTest, FileSizeAndDate) {
  const std::string file = folder_.Write("five.txt", "12345");
  ASSERT_TRUE(SetFileModTime(file, EncodeDateTime(2021, 3, 4, 5, 6, 7)));
  EXPECT_EQ(
      Replace("[||FILESIZE(" + file + ")] [||FILEDATE(" + file + ")] ||FILESIZE(" + file + ")"),
      "[5b] [03/04/21] 5b\r\n");
  EXPECT_TRUE(log_.empty());
}

TEST_F(ReplaceTagsTest, MissingFilesInLoopedTags) {
  const std::string missing = folder_.Path() + "missing.txt";
  const std::string page = "||FILESIZE(" + missing + ") and ||FILESIZE(" + missing + ")\r\n";
  EXPECT_EQ(Replace(page), page);
  const std::string line =
      "HTTP://example.org> 10.0.0.7:50123, alice> file does not exist (||FILESIZE = " + missing +
      ")";
  EXPECT_EQ(log_, std::vector<std::string>({line, line}));

  log_.clear();
  EXPECT_EQ(Replace("||FILEDATE(" + missing + ")"), "ERR: file not found\r\n");
  EXPECT_EQ(log_, std::vector<std::string>(
                      {"HTTP://example.org> 10.0.0.7:50123, alice> file does not exist "
                       "(||FILEAGE = " +
                       missing + ")"}));
}

TEST_F(ReplaceTagsTest, AFolderHasNoFileSize) {
  EXPECT_EQ(Replace("||FILESIZE(" + folder_.Path() + ")"), "||FILESIZE(" + folder_.Path() + ")");
  EXPECT_EQ(log_.size(), 1u);
}

TEST_F(ReplaceTagsTest, LoopStepsElevenCharactersAfterEachTag) {
  const std::string a = folder_.Write("a", "12345");
  const std::string b = folder_.Write("b", "1234567");
  // "5b" is shorter than 11 characters, so the tag right behind it is not seen...
  EXPECT_EQ(Replace("||FILESIZE(" + a + ")||FILESIZE(" + b + ")"), "5b||FILESIZE(" + b + ")\r\n");
  // ...unless a later tag with the same argument replaces every occurrence.
  EXPECT_EQ(Replace("||FILESIZE(" + a + ")||FILESIZE(" + b + ") ||FILESIZE(" + b + ")"),
            "5b7b 7b\r\n");
  // A long value moves the search beyond the next tag's start: it is found.
  EXPECT_EQ(Replace("||FILEDATE(" + folder_.Path() + "none)||FILESIZE(" + a + ")"),
            "ERR: file not found5b\r\n");

  // The monitor tags are 15 characters long but step 11 as well.
  ASSERT_TRUE(monitored_.AddMonitoredFile("x.zip"));
  ASSERT_TRUE(monitored_.AddMonitoredFile("y.zip"));
  EXPECT_EQ(Replace("||MONITORCOUNT(x.zip)         ||MONITORCOUNT(y.zip)"),
            "0         ||MONITORCOUNT(y.zip)\r\n");
  EXPECT_EQ(Replace("||MONITORCOUNT(x.zip)          ||MONITORCOUNT(y.zip)"), "0          0\r\n");
}

TEST_F(ReplaceTagsTest, MonitorTags) {
  SetFixedNow(kNow - 1.5);
  ASSERT_TRUE(monitored_.AddMonitoredFile("Report.pdf"));
  SetFixedNow(kNow);
  ASSERT_TRUE(monitored_.CountMonitoredHit("report.PDF", "1.2.3.4"));
  ASSERT_TRUE(monitored_.CountMonitoredHit("report.pdf", "1.2.3.4"));
  ASSERT_TRUE(monitored_.CountMonitoredHit("report.pdf", "1.2.3.4"));
  EXPECT_EQ(Replace("||MONITORCOUNT(REPORT.PDF)  |  ||MONITORTODAY(report.pdf)  |  "
                    "||MONITORAVGPERDAY(report.pdf)"),
            "3  |  3  |  3.0\r\n");
  EXPECT_TRUE(log_.empty());

  EXPECT_EQ(Replace("||MONITORTODAY(none.zip)       ||MONITORAVGPERDAY(none.zip)"),
            "ERR: file not found       ERR: file not found\r\n");
  const std::string prefix = "HTTP://example.org> 10.0.0.7:50123, alice> file does not exist ";
  EXPECT_EQ(log_, std::vector<std::string>({prefix + "(||MONITORTODAY = none.zip)",
                                            prefix + "(||MONITORAVGPERDAY = none.zip)"}));
}

TEST_F(ReplaceTagsTest, DirList) {
  const std::string files = folder_.MakeFolder("files");
  folder_.Write("files/a.txt", "abc");
  const std::string tag = "||DIRLIST(/files/;" + files + ")";
  const std::string replaced = Replace("<p>" + tag + "</p>" + tag);
  EXPECT_EQ(replaced.substr(0, 23), "<p><table width=100%>\r\n");
  EXPECT_NE(replaced.find("<a href=\"/files/a.txt\">a.txt</a>"), std::string::npos);
  // Only the first is handled.
  EXPECT_NE(replaced.find("</table>\r\n</p>" + tag + "\r\n"), std::string::npos);
  EXPECT_TRUE(log_.empty());
}

TEST_F(ReplaceTagsTest, DirListFailures) {
  const std::string prefix = "HTTP://example.org> 10.0.0.7:50123, alice> ";
  EXPECT_EQ(Replace("||DIRLIST(nosemicolon)"), "||DIRLIST(nosemicolon)");
  const std::string missing = folder_.Path() + "missing/";
  EXPECT_EQ(Replace("||DIRLIST(/m/;" + missing + ")"), "||DIRLIST(/m/;" + missing + ")");
  EXPECT_EQ(log_, std::vector<std::string>(
                      {prefix + "||DIRLIST tag does not contain valid info (nosemicolon)",
                       prefix + "directory does not exist (||DIRLIST = " + missing + ")"}));
}

TEST_F(ReplaceTagsTest, ClientValuesCannotPlantTags) {
  const std::string etc = "/etc/passwd";
  const std::string planted[] = {"||DIRLIST(/x/;/)", "||FILESIZE(" + etc + ")",
                                 "||FILEDATE(" + etc + ")", "||MONITORCOUNT(a)"};
  for (const std::string& value : planted) {
    ctx_.user = ctx_.userAgent = ctx_.referer = ctx_.acceptLanguage = ctx_.paramText = value;
    headers_.lines = {"X-Planted: " + value};
    EXPECT_EQ(Replace("||USER|||AGENT|||REFERER|||ACCEPTLANG|||UNPARSEDPAR|||REQUESTHEAD"),
              value + "|" + value + "|" + value + "|" + value + "|" + value +
                  "|X-Planted: " + value + "\r\n");
  }
  EXPECT_TRUE(log_.empty());

  // Nor can they complete a tag the page opens.
  ctx_.userAgent = etc;
  EXPECT_EQ(Replace("||FILESIZE(||AGENT)"), "||FILESIZE(" + etc + ")\r\n");
  ctx_.userAgent = etc + ")";
  EXPECT_EQ(Replace("||FILESIZE(||AGENT"), "||FILESIZE(" + etc + ")\r\n");
  ctx_.paramText = "/x/;/";
  EXPECT_EQ(Replace("||DIRLIST(||UNPARSEDPAR)"), "||DIRLIST(/x/;/)\r\n");
  // An empty value parts the page as well.
  ctx_.userAgent = "";
  EXPECT_EQ(Replace("||RE||AGENTFERER ||FILESIZE(/etc/||AGENTpasswd)"),
            "||REFERER ||FILESIZE(/etc/passwd)\r\n");
  ctx_.referer = "||FILESIZE(";
  EXPECT_EQ(Replace("||REFERER" + etc + ")"), "||FILESIZE(" + etc + ")\r\n");
  EXPECT_TRUE(log_.empty());
}

TEST_F(ReplaceTagsTest, HtmlEscapingOfClientValues) {
  ctx_.userAgent = "<script>alert(\"x&y\")</script>'";
  ctx_.serverSoftware = "<b>Morlak</b>";
  EXPECT_EQ(Replace("||AGENT ||SERVER"), "<script>alert(\"x&y\")</script>' <b>Morlak</b>\r\n");
  ctx_.htmlEscapeClientValues = true;
  EXPECT_EQ(Replace("||AGENT ||SERVER"),
            "&lt;script&gt;alert(&quot;x&amp;y&quot;)&lt;/script&gt;&#39; <b>Morlak</b>\r\n");
  ctx_.user = "a<b";
  ctx_.paramText = "q='1'";
  headers_.lines = {"X: <i>"};
  EXPECT_EQ(Replace("||USER ||UNPARSEDPAR ||REQUESTHEAD"), "a&lt;b q=&#39;1&#39; X: &lt;i&gt;\r\n");
}

}  // namespace
}  // namespace morlak
