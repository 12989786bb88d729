#include "stores/monitored_files.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/datetime.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

TDateTime At(int day, int hour, int minute = 0) {
  return EncodeDateTime(2024, 5, day, hour, minute);
}

class MonitoredFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetFixedNow(At(6, 8)); }
  void TearDown() override { SetFixedNow(std::nullopt); }

  void HitAt(TDateTime when, const std::string& name, int times = 1) {
    SetFixedNow(when);
    for (int i = 0; i < times; ++i) ASSERT_TRUE(files_.CountMonitoredHit(name, "10.0.0.1"));
  }
  double Average(const std::string& name) {
    double avg = -1;
    EXPECT_TRUE(files_.GetMonitoredAvgPerDay(name, avg));
    return avg;
  }
  int32_t Today(const std::string& name) {
    int32_t today = -1;
    EXPECT_TRUE(files_.GetMonitoredToday(name, today));
    return today;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& e : files_.Entries()) names.push_back(e.filename);
    return names;
  }

  MonitoredFiles files_;
  test_support::TempFolder folder_;
};

TEST_F(MonitoredFilesTest, NamesAreUniqueWithoutRegardToCase) {
  EXPECT_TRUE(files_.AddMonitoredFile("report.pdf"));
  EXPECT_FALSE(files_.AddMonitoredFile("Report.PDF"));
  EXPECT_TRUE(files_.AddMonitoredFile("other.zip"));
  int32_t count = -1;
  EXPECT_TRUE(files_.GetMonitoredCount("REPORT.pdf", count));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(files_.DeleteMonitoredFile("OTHER.ZIP"));
  EXPECT_FALSE(files_.DeleteMonitoredFile("other.zip"));
  EXPECT_EQ(Names(), std::vector<std::string>({"report.pdf"}));
}

TEST_F(MonitoredFilesTest, UnknownNames) {
  EXPECT_FALSE(files_.CountMonitoredHit("a.zip", "1.2.3.4"));
  ASSERT_TRUE(files_.AddMonitoredFile("b.zip"));
  int32_t count = 7;
  double avg = 7;
  EXPECT_FALSE(files_.CountMonitoredHit("a.zip", "1.2.3.4"));
  EXPECT_FALSE(files_.GetMonitoredCount("a.zip", count));
  EXPECT_FALSE(files_.GetMonitoredAvgPerDay("a.zip", avg));
  EXPECT_FALSE(files_.ResetMonitoredFile("a.zip"));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(avg, 0);
}

TEST_F(MonitoredFilesTest, AveragePerDay) {
  const struct {
    TDateTime added, hit;
    int hits;
    double expected;
  } cases[] = {
      {At(6, 8), At(6, 21), 3, 3},     // same day
      {At(5, 23), At(6, 12), 2, 2},    // yesterday late, today noon: one day
      {At(2, 8), At(6, 12), 4, 1},     // span 4.17 -> days to today's midnight 3.67 -> 4
      {At(3, 12), At(6, 0), 1, 0.5},   // 2.5 days rounds to even: 2
      {At(4, 12), At(6, 12), 3, 1.5},  // 1.5 rounds to even: 2
      {At(6, 12), At(6, 11), 1, 1},    // added in the future: at least one day
  };
  for (const auto& c : cases) {
    MonitoredFiles files;
    SetFixedNow(c.added);
    ASSERT_TRUE(files.AddMonitoredFile("f"));
    SetFixedNow(c.hit);
    for (int i = 0; i < c.hits; ++i) ASSERT_TRUE(files.CountMonitoredHit("f", "1.1.1.1"));
    double avg = -1;
    EXPECT_TRUE(files.GetMonitoredAvgPerDay("f", avg));
    EXPECT_DOUBLE_EQ(avg, c.expected) << c.added << " " << c.hit;
  }
}

TEST_F(MonitoredFilesTest, ResetKeepsTheStart) {
  SetFixedNow(At(1, 10));
  ASSERT_TRUE(files_.AddMonitoredFile("f"));
  HitAt(At(3, 10), "f", 5);
  SetFixedNow(At(9, 9));
  ASSERT_TRUE(files_.ResetMonitoredFile("f"));
  const TSpecialfiledata reset = files_.Entries()[0];
  EXPECT_EQ(reset.count, 0);
  EXPECT_EQ(reset.lasttime, 0);
  EXPECT_EQ(reset.lastip, "");
  EXPECT_EQ(reset.counttoday, 0);
  EXPECT_EQ(reset.today, std::floor(At(9, 9)));
  EXPECT_EQ(reset.starttime, At(1, 10));
  EXPECT_DOUBLE_EQ(reset.avgperday, 2.5);  // left as it was
  HitAt(At(11, 10), "f");
  // 10 days since the first start (to today's midnight: 9.58 -> 10).
  EXPECT_DOUBLE_EQ(Average("f"), 0.1);
}

TEST_F(MonitoredFilesTest, TodaysCountRollsOverAtTheNextHitOnly) {
  ASSERT_TRUE(files_.AddMonitoredFile("f"));
  HitAt(At(6, 9), "f", 2);
  EXPECT_EQ(Today("f"), 2);
  SetFixedNow(At(7, 9));
  EXPECT_EQ(Today("f"), 2);
  HitAt(At(7, 10), "f");
  EXPECT_EQ(Today("f"), 1);
  HitAt(At(7, 23, 59), "f");
  EXPECT_EQ(Today("f"), 2);
  int32_t count = 0;
  EXPECT_TRUE(files_.GetMonitoredCount("f", count));
  EXPECT_EQ(count, 4);
}

TEST_F(MonitoredFilesTest, AStartOfZeroIsSetByTheFirstHit) {
  folder_.Write("httpspecialfiles.lst",
                "[specialfiles]\r\nspecialfiles=1\r\n[specialfile0]\r\nfilename=f\r\n");
  ASSERT_TRUE(files_.LoadMonitoredFiles(folder_.Path()));
  HitAt(At(6, 9), "f");
  EXPECT_EQ(files_.Entries()[0].starttime, At(6, 9));
  EXPECT_DOUBLE_EQ(Average("f"), 1);
}

TEST_F(MonitoredFilesTest, DisplayRows) {
  SetFixedNow(At(4, 8));
  ASSERT_TRUE(files_.AddMonitoredFile("report.pdf"));
  SetFixedNow(At(6, 7));
  ASSERT_TRUE(files_.AddMonitoredFile("new.zip"));
  SetFixedNow(At(6, 7, 8) + 9.0 / 86400);
  ASSERT_TRUE(files_.CountMonitoredHit("report.pdf", "1.2.3.4"));
  ASSERT_TRUE(files_.CountMonitoredHit("report.pdf", "1.2.3.4"));
  ASSERT_TRUE(files_.CountMonitoredHit("report.pdf", "1.2.3.4"));
  EXPECT_EQ(files_.ListMonitoredFiles().lines,
            std::vector<std::string>({
                "report.pdf||3||05/06/24 07:08:09||1.2.3.4||1.50 (05/04/24)||3||",
                "new.zip||0||-||-||0.00 (05/06/24)||0||",
            }));
  folder_.Write("httpspecialfiles.lst",
                "[specialfiles]\r\nspecialfiles=1\r\n[specialfile0]\r\nfilename=old.zip\r\n"
                "count=1\r\nlastip=\r\navgperday=0.333333333333333\r\n");
  ASSERT_TRUE(files_.LoadMonitoredFiles(folder_.Path()));
  EXPECT_EQ(files_.ListMonitoredFiles().lines,
            std::vector<std::string>({"old.zip||1||-||-||0.33 (-)||0||"}));
}

TEST_F(MonitoredFilesTest, SortIsStable) {
  const struct {
    const char* name;
    int hits;
    const char* ip;
  } rows[] = {{"b", 2, "10.0.0.9"}, {"D", 5, "10.0.0.1"}, {"a", 2, "10.0.0.1"}, {"C", 5, ""}};
  for (const auto& r : rows) {
    ASSERT_TRUE(files_.AddMonitoredFile(r.name));
    for (int i = 0; i < r.hits; ++i) ASSERT_TRUE(files_.CountMonitoredHit(r.name, r.ip));
  }
  files_.SortMonitoredFiles(1);
  EXPECT_EQ(Names(), std::vector<std::string>({"D", "C", "b", "a"}));
  files_.SortMonitoredFiles(0);  // byte-wise: upper case first
  EXPECT_EQ(Names(), std::vector<std::string>({"C", "D", "a", "b"}));
  files_.SortMonitoredFiles(3);
  EXPECT_EQ(Names(), std::vector<std::string>({"C", "D", "a", "b"}));
  files_.SortMonitoredFiles(5);
  EXPECT_EQ(Names(), std::vector<std::string>({"C", "D", "a", "b"}));
  files_.SortMonitoredFiles(9);  // no such column
  EXPECT_EQ(Names(), std::vector<std::string>({"C", "D", "a", "b"}));
  // Lookups follow the new order.
  ASSERT_TRUE(files_.DeleteMonitoredFile("d"));
  int32_t count = 0;
  EXPECT_TRUE(files_.GetMonitoredCount("B", count));
  EXPECT_EQ(count, 2);
}

TEST_F(MonitoredFilesTest, SortByTimeAndAverage) {
  ASSERT_TRUE(files_.AddMonitoredFile("early"));
  ASSERT_TRUE(files_.AddMonitoredFile("late"));
  ASSERT_TRUE(files_.AddMonitoredFile("never"));
  HitAt(At(6, 9), "early", 3);
  HitAt(At(6, 10), "late");
  files_.SortMonitoredFiles(2);
  EXPECT_EQ(Names(), std::vector<std::string>({"late", "early", "never"}));
  files_.SortMonitoredFiles(4);
  EXPECT_EQ(Names(), std::vector<std::string>({"early", "late", "never"}));
}

TEST_F(MonitoredFilesTest, SaveAndLoad) {
  SetFixedNow(45418.5);
  ASSERT_TRUE(files_.AddMonitoredFile("a.zip"));
  ASSERT_TRUE(files_.CountMonitoredHit("a.zip", "1.2.3.4"));
  ASSERT_TRUE(files_.AddMonitoredFile("b.zip"));
  ASSERT_TRUE(files_.SaveMonitoredFiles(folder_.Path()));
  EXPECT_EQ(folder_.Read("httpspecialfiles.lst"),
            "[specialfiles]\r\nspecialfiles=2\r\n"
            "[specialfile0]\r\nfilename=a.zip\r\ncount=1\r\nlasttime=45418.5\r\nlastip=1.2.3.4\r\n"
            "starttime=45418.5\r\navgperday=1\r\ntoday=45418\r\ncounttoday=1\r\n"
            "[specialfile1]\r\nfilename=b.zip\r\ncount=0\r\nlasttime=0\r\nlastip=\r\n"
            "starttime=45418.5\r\navgperday=0\r\ntoday=45418\r\ncounttoday=0\r\n");

  MonitoredFiles loaded;
  ASSERT_TRUE(loaded.LoadMonitoredFiles(folder_.Path()));
  EXPECT_EQ(loaded.ListMonitoredFiles().lines, files_.ListMonitoredFiles().lines);

  // A smaller table leaves the old section behind; the count hides it.
  ASSERT_TRUE(files_.DeleteMonitoredFile("a.zip"));
  ASSERT_TRUE(files_.SaveMonitoredFiles(folder_.Path()));
  ASSERT_TRUE(loaded.LoadMonitoredFiles(folder_.Path()));
  EXPECT_EQ(loaded.ListMonitoredFiles().lines, files_.ListMonitoredFiles().lines);
  EXPECT_NE(folder_.Read("httpspecialfiles.lst").find("[specialfile1]"), std::string::npos);

  EXPECT_FALSE(files_.SaveMonitoredFiles(folder_.Path() + "missing/"));
}

TEST_F(MonitoredFilesTest, MissingKeysReadAsReadFailedAndZero) {
  folder_.Write("httpspecialfiles.lst",
                "[specialfiles]\r\nspecialfiles=2\r\n[specialfile0]\r\ncount=4\r\n"
                "starttime=not a number\r\n");
  ASSERT_TRUE(files_.LoadMonitoredFiles(folder_.Path()));
  const auto entries = files_.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].filename, "readfailed");
  EXPECT_EQ(entries[0].count, 4);
  EXPECT_EQ(entries[0].lastip, "readfailed");
  EXPECT_EQ(entries[0].starttime, 0);
  EXPECT_EQ(entries[1].filename, "readfailed");
  EXPECT_EQ(entries[1].count, 0);
  EXPECT_EQ(entries[1].avgperday, 0);
  EXPECT_EQ(entries[1].today, 0);
}

TEST_F(MonitoredFilesTest, LoadingWithoutAFileLeavesTheTable) {
  ASSERT_TRUE(files_.AddMonitoredFile("keep.zip"));
  EXPECT_FALSE(files_.LoadMonitoredFiles(folder_.Path()));
  EXPECT_EQ(Names(), std::vector<std::string>({"keep.zip"}));
  files_.ClearMonitoredFiles();
  EXPECT_TRUE(Names().empty());
  EXPECT_FALSE(files_.CountMonitoredHit("keep.zip", "1.1.1.1"));
}

TEST_F(MonitoredFilesTest, ADamagedCountIsCapped) {
  folder_.Write("httpspecialfiles.lst", "[specialfiles]\r\nspecialfiles=2000000000\r\n");
  ASSERT_TRUE(files_.LoadMonitoredFiles(folder_.Path()));
  EXPECT_EQ(files_.Entries().size(), static_cast<size_t>(MonitoredFiles::kMaxEntries));
}

}  // namespace
}  // namespace morlak
