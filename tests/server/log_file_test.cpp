#include "server/log_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/text.h"
#include "support/temp_folder.h"
#include "support/unreadable_file.h"

namespace morlak {
namespace {

using test_support::TempFolder;

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { SetFixedNow(EncodeDateTime(2024, 3, 5, 14, 7, 9)); }
  void TearDown() override { SetFixedNow(std::nullopt); }

  // Collects OnError texts and AfterLog lines.
  void Watch(TOzm_logfile& log) {
    log.SetOnError([this](TOzm_logfile&, const std::string& text) { errors.push_back(text); });
    log.SetAfterLog([this](TOzm_logfile&, const std::string& line) { after.push_back(line); });
  }

  TempFolder dir;
  std::vector<std::string> errors;
  std::vector<std::string> after;
};

TEST_F(LogFileTest, RollingModeKeepsTheLastLinesWithTimeStamps) {
  const std::vector<std::string> expected = {
      "03/05/24 14:07:09> line 3", "03/05/24 14:07:09> line 4", "03/05/24 14:07:09> line 5"};
  {
    TOzm_logfile log;
    log.SetFilename(dir.File("weblog.txt"));
    ASSERT_TRUE(log.SetMaxLines(3));
    for (int i = 1; i <= 5; ++i) log.Add("line " + std::to_string(i));
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(log.LastLine(), "line 5");
    EXPECT_EQ(log.LastLineTime(), EncodeDateTime(2024, 3, 5, 14, 7, 9));
  }  // the rewrite under way ends with the component
  EXPECT_EQ(dir.Read("weblog.txt"), JoinLinesCrLf(expected));
}

// The file grows to a quarter past the limit, then is rewritten once with the last lines;
// lines written meanwhile are kept.
TEST_F(LogFileTest, RollingModeRewritesInBatches) {
  TOzm_logfile log;
  log.SetTimeStamp(false);
  log.SetLoadOnStartup(true);
  ASSERT_TRUE(log.SetMaxLines(100));
  log.SetFilename(dir.File("weblog.txt"));
  for (int i = 1; i <= 125; ++i) log.Add(std::to_string(i));
  EXPECT_EQ(SplitLines(dir.Read("weblog.txt")).size(), 125u);  // appended, not rewritten
  for (int i = 126; i <= 400; ++i) log.Add(std::to_string(i));
  log.SetFilename(dir.File("weblog.txt"));  // waits for a rewrite under way
  const auto lines = SplitLines(dir.Read("weblog.txt"));
  EXPECT_LE(lines.size(), 125u);
  ASSERT_GE(lines.size(), 100u);
  EXPECT_EQ(lines.back(), "400");
  EXPECT_EQ(std::stoi(lines.front()), 401 - static_cast<int>(lines.size()));
}

TEST_F(LogFileTest, AppendModeAddsToTheFileAndCapsMemory) {
  dir.Write("weblog.txt", "earlier\r\n");
  TOzm_logfile log;
  log.SetFilename(dir.File("weblog.txt"));
  log.Add("first");
  log.Add("second");
  EXPECT_EQ(dir.Read("weblog.txt"),
            "earlier\r\n03/05/24 14:07:09> first\r\n03/05/24 14:07:09> second\r\n");

  TOzm_logfile memoryOnly;
  memoryOnly.SetTimeStamp(false);
  for (int i = 0; i < 10005; ++i) memoryOnly.Add(std::to_string(i));
  const auto lines = memoryOnly.Lines();
  ASSERT_EQ(lines.size(), 10000u);
  EXPECT_EQ(lines.front(), "5");
  EXPECT_EQ(lines.back(), "10004");
}

TEST_F(LogFileTest, TimeStampLeavesOutTheTimeAtMidnightAndCanBeOff) {
  TOzm_logfile log;
  SetFixedNow(EncodeDateTime(2024, 12, 31));
  log.Add("midnight");
  SetFixedNow(EncodeDateTime(2024, 12, 31, 0, 0, 0, 1));
  log.Add("just after");
  SetFixedNow(EncodeDateTime(2024, 12, 31, 0, 0, 1));
  log.Add("next second");
  log.SetTimeStamp(false);
  log.Add("plain");
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"12/31/24> midnight", "12/31/24 00:00:00> just after",
                                      "12/31/24 00:00:01> next second", "plain"}));
}

TEST_F(LogFileTest, MaxLinesAcceptsZeroTo9999Only) {
  TOzm_logfile log;
  struct Case {
    int value;
    bool accepted;
    int after;
  };
  const Case cases[] = {{5, true, 5}, {10000, false, 5}, {9999, true, 9999},   {-1, false, 9999},
                        {0, true, 0}, {1, true, 1},      {INT32_MAX, false, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(log.SetMaxLines(c.value), c.accepted);
    EXPECT_EQ(log.MaxLines(), c.after);
  }
}

TEST_F(LogFileTest, UnwritablePathLosesOnlyTheFileLine) {
  for (int maxLines : {0, 3}) {
    SCOPED_TRACE(maxLines);
    errors.clear();
    after.clear();
    TOzm_logfile log;
    Watch(log);
    log.SetMaxLines(maxLines);
    log.SetFilename(dir.File("no-such-folder/weblog.txt"));
    log.Add("kept in memory");
    EXPECT_EQ(errors, std::vector<std::string>{"Failed to create log file."});
    EXPECT_EQ(log.LastError(), "Failed to create log file.");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"03/05/24 14:07:09> kept in memory"});
    EXPECT_TRUE(after.empty());

    log.SetFilename(dir.File("weblog" + std::to_string(maxLines) + ".txt"));
    log.Add("written");
    EXPECT_EQ(log.LastError(), "");
    EXPECT_EQ(after.size(), 1u);
  }
}

TEST_F(LogFileTest, LoadOnStartupReadsTheFileOnEveryAssignment) {
  dir.Write("weblog.txt", "a\r\nb\r\n");
  TOzm_logfile log;
  log.SetFilename(dir.File("weblog.txt"));
  EXPECT_TRUE(log.Lines().empty());  // LoadOnStartup is off

  log.SetLoadOnStartup(true);
  log.Loaded();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"a", "b"}));

  log.SetTimeStamp(false);
  log.SetMaxLines(3);
  log.Add("c");
  log.Add("d");
  log.SetFilename(dir.File("weblog.txt"));  // after the rewrite
  EXPECT_EQ(dir.Read("weblog.txt"), "b\r\nc\r\nd\r\n");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"b", "c", "d"}));

  dir.Write("weblog.txt", "changed outside\n");
  log.SetFilename(dir.File("weblog.txt"));  // same name: loads again
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"changed outside"});

  log.SetFilename(dir.File("missing.txt"));  // a missing file leaves memory as it is
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"changed outside"});
  EXPECT_EQ(log.Filename(), dir.File("missing.txt"));
}

TEST_F(LogFileTest, LoadKeepsOnlyTheNewestLinesOfALongFile) {
  std::string text;
  for (int i = 0; i < 10010; ++i) text.append(std::to_string(i)).append("\r\n");
  dir.Write("weblog.txt", text);
  TOzm_logfile log;
  log.SetLoadOnStartup(true);
  log.SetFilename(dir.File("weblog.txt"));
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 10000u);
  EXPECT_EQ(lines.front(), "10");
}

// Peak resident memory in KiB since the last reset of the mark.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST_F(LogFileTest, LoadingAHugeFileReadsOnlyItsTail) {
  {
    std::ofstream file(dir.File("weblog.txt"), std::ios::binary);
    const std::string filler(90, 'x');
    for (int i = 0; i < 700000; ++i) file << filler << i << "\r\n";  // about 64 MB
  }
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak mark starts from now
  const long before = PeakKib();
  ASSERT_GT(before, 0);
  TOzm_logfile log;
  log.SetLoadOnStartup(true);
  log.SetFilename(dir.File("weblog.txt"));
  EXPECT_LT(PeakKib() - before, 16 * 1024) << "KiB over the mark";
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 10000u);
  EXPECT_EQ(lines.back(), std::string(90, 'x') + "699999");
}

TEST_F(LogFileTest, LoadFailureGivesTheExactMessage) {
  const std::string path = dir.File("weblog.txt");
  test_support::MakeUnreadableFile(path);
  TOzm_logfile log;
  Watch(log);
  log.SetLoadOnStartup(true);
  log.SetFilename(path);
  EXPECT_EQ(errors, std::vector<std::string>{"Failed to load \"" + path + "\" on startup."});
  EXPECT_EQ(log.LastError(), errors.front());
}

TEST_F(LogFileTest, EventsCanChangeTheLineAndStopTheTrim) {
  TOzm_logfile log;
  Watch(log);
  log.SetTimeStamp(false);
  log.SetMaxLines(2);
  bool trim = false;
  log.SetOnLog([](TOzm_logfile&, std::string& line) { line = "[" + line + "]"; });
  log.SetOnLogFull([&trim](TOzm_logfile&, bool& goAhead) { goAhead = trim; });
  log.Add("1");
  log.Add("2");
  log.Add("3");
  EXPECT_EQ(log.Lines().size(), 3u);
  EXPECT_EQ(log.LastLine(), "[3]");
  trim = true;
  log.Add("4");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"[3]", "[4]"}));
  EXPECT_EQ(after, (std::vector<std::string>{"[1]", "[2]", "[3]", "[4]"}));
}

TEST_F(LogFileTest, LinesFromManyThreadsStayWhole) {
  TOzm_logfile log;
  log.SetFilename(dir.File("weblog.txt"));
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log.Add("thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& thread : threads) thread.join();
  const auto lines = SplitLines(dir.Read("weblog.txt"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (const auto& line : lines) EXPECT_EQ(line.rfind("03/05/24 14:07:09> thread ", 0), 0u) << line;
  EXPECT_EQ(log.Lines(), lines);
}

}  // namespace
}  // namespace morlak
