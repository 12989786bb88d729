#include "stores/statistics.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/datetime.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

class StatisticsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetFixedNow(45000.31); }
  void TearDown() override { SetFixedNow(std::nullopt); }

  void WriteFiles(const std::string& counters, const std::string& agents,
                  const std::string& connections, const std::string& bytes) {
    folder_.Write("statlist.lst", counters);
    folder_.Write("statagents.lst", agents);
    folder_.Write("statconnections.lst", connections);
    folder_.Write("statbytes.lst", bytes);
  }
  std::string Saved(const std::string& name) {
    EXPECT_TRUE(stats_.SaveStatistics(out_.Path()));
    return out_.Read(name);
  }

  Statistics stats_;
  test_support::TempFolder folder_, out_;
};

TEST_F(StatisticsTest, GigaIsCarriedAtTheCallAfterItIsPassed) {
  stats_.AddBytesDownloaded(1048576001);
  EXPECT_EQ(stats_.GetGigasDownloaded(), 0);
  EXPECT_EQ(stats_.GetBytesDownloaded(), 1048576001);
  stats_.AddBytesDownloaded(10);
  EXPECT_EQ(stats_.GetGigasDownloaded(), 1);
  EXPECT_EQ(stats_.GetBytesDownloaded(), 11);
  // Exactly one giga is not above it.
  Statistics exact;
  exact.AddBytesDownloaded(1048576000);
  exact.AddBytesDownloaded(1);
  EXPECT_EQ(exact.GetGigasDownloaded(), 0);
  EXPECT_EQ(exact.GetBytesDownloaded(), 1048576001);
}

TEST_F(StatisticsTest, CountersAndTheirFile) {
  stats_.AddPagesDownloaded(3);
  stats_.AddSessions(2);
  stats_.AddConnections(5);
  stats_.AddBytesDownloaded(4096);
  EXPECT_EQ(stats_.GetPagesDownloaded(), 3);
  EXPECT_EQ(stats_.GetSessions(), 2);
  EXPECT_EQ(stats_.GetConnections(), 5);
  EXPECT_EQ(Saved("statlist.lst"),
            "gigasdownloaded=0\r\nbytesdownloaded=4096\r\npagesdownloaded=3\r\nsessions=2\r\n"
            "connections=5\r\ndocuments=0\r\n");
  EXPECT_EQ(out_.Read("statagents.lst"), "");
  EXPECT_EQ(out_.Read("statconnections.lst"), "45000.3=5\r\n");
  EXPECT_EQ(out_.Read("statbytes.lst"), "45000.3=4096\r\n");
}

TEST_F(StatisticsTest, OneBucketLinePerTenthOfADay) {
  stats_.AddConnections(1);
  SetFixedNow(45000.349);  // still rounds to 45000.3
  stats_.AddConnections(2);
  SetFixedNow(45000.351);
  stats_.AddConnections(4);
  SetFixedNow(45000.96);  // rounds up into the next day
  stats_.AddConnections(8);
  EXPECT_EQ(Saved("statconnections.lst"), "45000.3=3\r\n45000.4=4\r\n45001.0=8\r\n");
  EXPECT_EQ(stats_.GetConnections(), 15);
}

TEST_F(StatisticsTest, LinesMoreThanThirtyDaysAwayArePrunedAtTheNextAdd) {
  WriteFiles("", "", "44960.0=9\r\n", "44960.0=100\r\n44970.3=1\r\n45031.4=2\r\n45000.3=5\r\n");
  ASSERT_TRUE(stats_.LoadStatistics(folder_.Path()));
  // Adding connections prunes only the connection list.
  stats_.AddConnections(1);
  EXPECT_EQ(Saved("statconnections.lst"), "45000.3=1\r\n");
  EXPECT_EQ(out_.Read("statbytes.lst"), "44960.0=100\r\n44970.3=1\r\n45031.4=2\r\n45000.3=5\r\n");

  stats_.AddBytesDownloaded(7);
  // 44970.3 is 30.01 days away, 45031.4 is 31.09 days ahead.
  EXPECT_EQ(Saved("statbytes.lst"), "45000.3=12\r\n");
}

TEST_F(StatisticsTest, PruningFollowsTheClockWithinOneBucket) {
  WriteFiles("", "", "44970.3=9\r\n", "");
  ASSERT_TRUE(stats_.LoadStatistics(folder_.Path()));
  SetFixedNow(45000.30);  // exactly 30 days: stays
  stats_.AddConnections(1);
  EXPECT_EQ(Saved("statconnections.lst"), "44970.3=9\r\n45000.3=1\r\n");
  SetFixedNow(45000.31);  // same bucket, but now more than 30 days
  stats_.AddConnections(1);
  EXPECT_EQ(Saved("statconnections.lst"), "45000.3=2\r\n");
}

TEST_F(StatisticsTest, LoadingWithoutFilesAnswersFalseWithCountersAtZero) {
  stats_.AddSessions(4);
  stats_.AddBytesDownloaded(99);
  EXPECT_FALSE(stats_.LoadStatistics(folder_.Path()));
  EXPECT_EQ(stats_.GetSessions(), 0);
  EXPECT_EQ(stats_.GetBytesDownloaded(), 0);
  EXPECT_EQ(stats_.GetGigasDownloaded(), 0);
  EXPECT_EQ(stats_.GetPagesDownloaded(), 0);
  EXPECT_EQ(stats_.GetConnections(), 0);
}

TEST_F(StatisticsTest, AMissingFileStartsEmptyAndTheOthersKeepTheirData) {
  WriteFiles("sessions=7\r\n", "agent\r\n", "44990.1=3\r\n", "44990.2=40\r\n");
  std::remove(folder_.File("statlist.lst").c_str());
  stats_.AddConnections(2);
  EXPECT_FALSE(stats_.LoadStatistics(folder_.Path()));
  EXPECT_EQ(stats_.GetSessions(), 0);
  EXPECT_EQ(stats_.GetConnections(), 0);
  EXPECT_EQ(Saved("statconnections.lst"), "44990.1=3\r\n");
  EXPECT_EQ(out_.Read("statbytes.lst"), "44990.2=40\r\n");
  EXPECT_EQ(out_.Read("statagents.lst"), "agent\r\n");
}

TEST_F(StatisticsTest, LoadAndSaveRoundTrip) {
  WriteFiles(
      "gigasdownloaded=2\r\nbytesdownloaded=5000000000\r\npagesdownloaded=7\r\nsessions=8\r\n"
      "connections=9\r\ndocuments=1\r\n",
      "agent one\r\nagent two\r\n", "45000.1=3\r\n", "44999.9=123456789012\r\n");
  ASSERT_TRUE(stats_.LoadStatistics(folder_.Path().substr(0, folder_.Path().size() - 1)));
  EXPECT_EQ(stats_.GetGigasDownloaded(), 2);
  EXPECT_EQ(stats_.GetBytesDownloaded(), 5000000000);
  EXPECT_EQ(stats_.GetConnections(), 9);
  for (const char* name :
       {"statlist.lst", "statagents.lst", "statconnections.lst", "statbytes.lst"})
    EXPECT_EQ(Saved(name), folder_.Read(name)) << name;

  stats_.ResetStatistics();
  EXPECT_EQ(Saved("statlist.lst"),
            "gigasdownloaded=0\r\nbytesdownloaded=0\r\npagesdownloaded=0\r\nsessions=0\r\n"
            "connections=0\r\ndocuments=0\r\n");
  EXPECT_EQ(out_.Read("statagents.lst"), "");
  EXPECT_EQ(out_.Read("statconnections.lst"), "45000.1=3\r\n");
}

TEST_F(StatisticsTest, GarbageLinesAreSkippedAndReported) {
  WriteFiles(
      "garbage\r\nsessions=abc\r\npagesdownloaded=7\r\nbytesdownloaded=99999999999999999999\r\n",
      "", "x=1\r\n45000.0=zz\r\nnan=3\r\n45000.3=4\r\n\r\n", "45000.3\r\n");
  std::vector<std::string> skipped;
  ASSERT_TRUE(stats_.LoadStatistics(folder_.Path(), &skipped));
  EXPECT_EQ(stats_.GetPagesDownloaded(), 7);
  EXPECT_EQ(stats_.GetSessions(), 0);
  EXPECT_EQ(stats_.GetBytesDownloaded(), 0);
  EXPECT_EQ(skipped, std::vector<std::string>({
                         "statlist.lst: ignored line \"garbage\"",
                         "statlist.lst: ignored line \"sessions=abc\"",
                         "statlist.lst: ignored line \"bytesdownloaded=99999999999999999999\"",
                         "statconnections.lst: ignored line \"x=1\"",
                         "statconnections.lst: ignored line \"45000.0=zz\"",
                         "statconnections.lst: ignored line \"nan=3\"",
                         "statbytes.lst: ignored line \"45000.3\"",
                     }));
  stats_.AddConnections(1);
  EXPECT_EQ(Saved("statconnections.lst"), "45000.3=5\r\n");
}

TEST_F(StatisticsTest, SaveReportsAFolderItCannotWrite) {
  EXPECT_FALSE(stats_.SaveStatistics(folder_.Path() + "missing/"));
}

}  // namespace
}  // namespace morlak
