#include "stores/members.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/datetime.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::TempFolder;

const TDateTime kT0 = EncodeDateTime(2024, 3, 5, 14, 7, 9);
const TDateTime kT1 = EncodeDateTime(2024, 3, 5, 14, 9, 39);  // 2.5 minutes later

class MembersTest : public ::testing::Test {
 protected:
  void SetUp() override { SetFixedNow(kT0); }
  void TearDown() override { SetFixedNow(std::nullopt); }

  std::vector<std::string> Users() {
    std::vector<std::string> users;
    for (const std::string& row : store.ListMembers().lines)
      users.push_back(row.substr(0, row.find("||")));
    return users;
  }

  MembersStore store;
};

TEST_F(MembersTest, NamesAreCaseSensitiveAndUnique) {
  EXPECT_TRUE(store.AddMember("bob", "pw1", "/home/bob"));
  EXPECT_TRUE(store.AddMember("Bob", "pw2", "/home/Bob"));
  EXPECT_FALSE(store.AddMember("bob", "other", "/x"));

  EXPECT_FALSE(store.MemberLogin("10.0.0.1", "BOB", "pw1", "/a"));
  EXPECT_FALSE(store.MemberLogin("10.0.0.1", "bob", "PW1", "/a"));
  EXPECT_FALSE(store.MemberLogin("10.0.0.1", "bob", "", "/a"));
  EXPECT_TRUE(store.MemberLogin("10.0.0.1", "Bob", "pw2", "/a"));
  EXPECT_EQ(store.GetMemberHome("Bob"), "/home/Bob");
  EXPECT_EQ(store.GetMemberHome("BOB"), "");
}

TEST_F(MembersTest, EmptyPasswordMatchesOnlyAnEmptyStoredPassword) {
  store.AddMember("open", "", "/o");
  store.AddMember("closed", "secret", "/c");
  EXPECT_TRUE(store.MemberLogin("a", "open", "", "/"));
  EXPECT_FALSE(store.MemberLogin("a", "closed", "", "/"));
}

TEST_F(MembersTest, LoginRecordsTheLastVisitOnlyOnSuccess) {
  store.AddMember("ann", "pw", "/home/ann");
  EXPECT_FALSE(store.MemberLogin("10.0.0.9", "ann", "bad", "/x"));
  EXPECT_EQ(store.ListMembers().lines.at(0), "ann||pw||/home/ann||-||-||-||");
  EXPECT_TRUE(store.MemberLogin("10.0.0.9", "ann", "pw", "/docs/a.html"));
  EXPECT_EQ(store.ListMembers().lines.at(0),
            "ann||pw||/home/ann||10.0.0.9||03/05/24 14:07:09||/docs/a.html||");
}

TEST_F(MembersTest, FailedPasswordStillRefreshesTheEarliestRowOfTheAddress) {
  store.AddMember("bob", "pw", "/b");
  store.TouchActiveUser("s1", "10.0.0.1", "", "", "");
  store.TouchActiveUser("s2", "10.0.0.1", "", "", "");
  store.TouchActiveUser("s3", "10.0.0.2", "", "", "");
  SetFixedNow(kT1);
  EXPECT_FALSE(store.MemberLogin("10.0.0.1", "bob", "wrong", "/"));
  auto rows = store.ListActiveUsers().lines;
  EXPECT_EQ(rows[0], "s1||10.0.0.1||-||||2.50 min||14:09:39||");
  EXPECT_EQ(rows[1], "s2||10.0.0.1||-||||0.00 min||14:07:09||");
  EXPECT_EQ(rows[2], "s3||10.0.0.2||-||||0.00 min||14:07:09||");

  // With s1 gone, and after s2 moved to another address, the earliest row changes.
  store.PruneActiveUsers(60000);  // s2 and s3 are 150 s old
  rows = store.ListActiveUsers().lines;
  ASSERT_EQ(rows.size(), 1u);
  store.TouchActiveUser("s4", "10.0.0.1", "", "", "");
  store.TouchActiveUser("s5", "10.0.0.1", "", "", "");
  store.TouchActiveUser("s1", "10.0.0.7", "u", "p", "/d");  // s1 leaves 10.0.0.1
  const TDateTime t2 = kT1 + 1.0 / 1440;                    // one minute on
  SetFixedNow(t2);
  store.MemberLogin("10.0.0.1", "nobody", "", "/");
  rows = store.ListActiveUsers().lines;
  EXPECT_EQ(rows[0], "s1||10.0.0.7||/d||u||2.50 min||14:09:39||");
  EXPECT_EQ(rows[1], "s4||10.0.0.1||-||||1.00 min||14:10:39||");
  EXPECT_EQ(rows[2], "s5||10.0.0.1||-||||0.00 min||14:09:39||");
}

TEST_F(MembersTest, TouchActiveUserAddsOnceAndTracksChanges) {
  EXPECT_FALSE(store.ActiveUsersChanged());
  EXPECT_FALSE(store.TouchActiveUser("s1", "10.0.0.1", "", "", ""));
  EXPECT_TRUE(store.ActiveUsersChanged());
  SetFixedNow(kT1);
  EXPECT_TRUE(store.TouchActiveUser("s1", "10.0.0.3", "ann", "pw", "/srv/index.html"));
  EXPECT_EQ(store.ListActiveUsers().lines,
            std::vector<std::string>{"s1||10.0.0.3||/srv/index.html||ann||2.50 min||14:09:39||"});
  EXPECT_FALSE(store.ActiveUsersChanged());

  // Clearing an empty table is no change; clearing rows is, so the window drops them.
  store.ClearActiveUsers();
  EXPECT_TRUE(store.ActiveUsersChanged());
  EXPECT_TRUE(store.ListActiveUsers().Empty());
  store.ClearActiveUsers();
  EXPECT_FALSE(store.ActiveUsersChanged());
  EXPECT_FALSE(store.TouchActiveUser("s1", "10.0.0.1", "", "", ""));
}

TEST_F(MembersTest, PruneKeepsRowsWithinTheTimeoutInclusive) {
  store.TouchActiveUser("old", "a", "", "", "");
  SetFixedNow(kT0 + 1000 / kMsPerDay);
  store.TouchActiveUser("second", "b", "", "", "");
  SetFixedNow(kT0 + 2000 / kMsPerDay);
  store.TouchActiveUser("now", "c", "", "", "");
  store.ListActiveUsers();

  store.PruneActiveUsers(2000);  // "old" is exactly 2000 ms old
  EXPECT_FALSE(store.ActiveUsersChanged());
  EXPECT_EQ(store.ListActiveUsers().Count(), 3u);

  store.PruneActiveUsers(0);
  EXPECT_TRUE(store.ActiveUsersChanged());
  const auto rows = store.ListActiveUsers().lines;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].substr(0, 5), "now||");
  // The pruned sessions are gone from the index too: touching one appends a fresh row.
  EXPECT_FALSE(store.TouchActiveUser("old", "a", "", "", ""));
}

// Rows are pruned by when they were last used, not by where they stand in the table:
// refreshed early rows stay, late rows touched with an earlier time go, and after the
// clock was set back rows lying too far in the future go as well.
TEST_F(MembersTest, PruneFollowsLastUseWhateverTheTableOrder) {
  const auto at = [](int seconds) { return kT0 + seconds * 1000 / kMsPerDay; };
  const struct {
    const char* session;
    int seconds;
  } touches[] = {{"a", 0}, {"b", 10}, {"c", 5}, {"a", 30}, {"d", 100}, {"e", 40}};
  for (const auto& t : touches) {
    SetFixedNow(at(t.seconds));
    store.TouchActiveUser(t.session, "10.0.0.1", "", "", "");
  }
  const auto sessions = [&] {
    std::string out;
    for (const std::string& row : store.ListActiveUsers().lines) out += row.substr(0, 1);
    return out;
  };
  SetFixedNow(at(45));
  store.PruneActiveUsers(20000);  // keeps 25..65 s: a (30), e (40)
  EXPECT_EQ(sessions(), "ae");
  store.TouchActiveUser("f", "10.0.0.1", "", "", "");
  SetFixedNow(at(20));  // set back: e (40) and f (45) lie 20 s and 25 s ahead
  store.PruneActiveUsers(22000);
  EXPECT_EQ(sessions(), "ae");
  SetFixedNow(at(15));
  EXPECT_FALSE(store.MemberLogin("10.0.0.1", "nobody", "", "/"));  // refreshes a
  SetFixedNow(at(36));
  store.PruneActiveUsers(21000);  // a was used at 15 s, e at 40 s
  EXPECT_EQ(sessions(), "ae");
  SetFixedNow(at(37));
  store.PruneActiveUsers(21000);
  EXPECT_EQ(sessions(), "e");

  // More stale rows than one lock's batch all go.
  for (int i = 0; i < 700; ++i) store.TouchActiveUser(std::to_string(1000 + i), "b", "", "", "");
  SetFixedNow(at(38));
  store.TouchActiveUser("g", "c", "", "", "");
  store.PruneActiveUsers(500);
  EXPECT_EQ(sessions(), "g");
}

TEST_F(MembersTest, IndexChecksAndDuplicateNamesAfterModify) {
  store.AddMember("a", "1", "/a");
  store.AddMember("b", "2", "/b");
  std::string user = "x", pass = "y", home = "z";
  EXPECT_FALSE(store.GetMember(2, user, pass, home));
  EXPECT_EQ(user + pass + home, "");
  EXPECT_FALSE(store.GetMember(-1, user, pass, home));
  EXPECT_FALSE(store.ModifyMember(2, "c", "3", "/c"));
  EXPECT_FALSE(store.DeleteMember(-1));
  EXPECT_FALSE(store.DeleteMember(2));

  EXPECT_TRUE(store.ModifyMember(1, "a", "3", "/second"));
  EXPECT_EQ(store.GetMemberHome("a"), "/a");
  EXPECT_FALSE(store.MemberLogin("h", "a", "3", "/"));
  EXPECT_TRUE(store.GetMember(1, user, pass, home));
  EXPECT_EQ(user + "|" + pass + "|" + home, "a|3|/second");
}

TEST_F(MembersTest, SortOrdersEveryColumnAndKeepsEqualKeysInOrder) {
  // user, pass, home, addr, lasttime via login order, lastdoc
  store.AddMember("carl", "b", "/2");
  store.AddMember("anna", "c", "/1");
  store.AddMember("bert", "a", "/3");
  store.AddMember("dora", "a", "/3");
  store.AddMember("Zed", "z", "/0");
  SetFixedNow(kT0);
  store.MemberLogin("10.0.0.2", "anna", "c", "/b");
  SetFixedNow(kT1);
  store.MemberLogin("10.0.0.1", "carl", "b", "/a");

  const struct {
    int column;
    std::vector<std::string> users;
  } cases[] = {
      {0, {"Zed", "anna", "bert", "carl", "dora"}},
      {1, {"bert", "dora", "carl", "anna", "Zed"}},
      {2, {"Zed", "anna", "carl", "bert", "dora"}},
      {3, {"Zed", "bert", "dora", "carl", "anna"}},  // "" first, then 10.0.0.1, 10.0.0.2
      {4, {"carl", "anna", "Zed", "bert", "dora"}},  // never logged in last, in order
      {5, {"anna", "carl", "Zed", "bert", "dora"}},  // "/b", "/a", then the empty ones
  };
  for (const auto& c : cases) {
    // Start each case from the same order so equal keys show whether they stay put.
    store.SortMembers(0);
    store.SortMembers(c.column);
    EXPECT_EQ(Users(), c.users) << "column " << c.column;
  }
  const auto before = Users();
  EXPECT_TRUE(store.SortMembers(6));
  EXPECT_EQ(Users(), before);
}

TEST_F(MembersTest, DeleteThenSaveKeepsAStaleSectionWithoutEffect) {
  TempFolder folder;
  for (const char* name : {"m0", "m1", "m2"}) store.AddMember(name, "pw", std::string("/") + name);
  ASSERT_TRUE(store.SaveMembers(folder.Path()));
  ASSERT_TRUE(store.DeleteMember(0));
  ASSERT_TRUE(store.SaveMembers(folder.Path()));

  const std::string text = folder.Read("httpmembers.lst");
  EXPECT_EQ(
      text,
      "[httpmembers]\r\nhttpmembers=2\r\n"
      "[httpmember0]\r\nuser=m1\r\npass=pw\r\nhome=/m1\r\naddr=\r\nlasttime=0\r\nlastdoc=\r\n"
      "[httpmember1]\r\nuser=m2\r\npass=pw\r\nhome=/m2\r\naddr=\r\nlasttime=0\r\nlastdoc=\r\n"
      "[httpmember2]\r\nuser=m2\r\npass=pw\r\nhome=/m2\r\naddr=\r\nlasttime=0\r\nlastdoc=\r\n");
  MembersStore reloaded;
  ASSERT_TRUE(reloaded.LoadMembers(folder.Path()));
  EXPECT_EQ(reloaded.ListMembers().lines,
            (std::vector<std::string>{"m1||pw||/m1||-||-||-||", "m2||pw||/m2||-||-||-||"}));
}

TEST_F(MembersTest, SaveAndLoadRoundTripTheLastVisit) {
  TempFolder folder;
  store.AddMember("ann", "pw", "/home/ann");
  SetFixedNow(EncodeDateTime(2024, 3, 5, 12));
  store.MemberLogin("10.1.1.1", "ann", "pw", "/x.html");
  ASSERT_TRUE(store.SaveMembers(folder.Path()));
  EXPECT_NE(folder.Read("httpmembers.lst").find("lasttime=45356.5\r\n"), std::string::npos);

  MembersStore reloaded;
  ASSERT_TRUE(reloaded.LoadMembers(folder.Path()));
  EXPECT_EQ(reloaded.ListMembers().lines,
            std::vector<std::string>{"ann||pw||/home/ann||10.1.1.1||03/05/24 12:00:00||/x.html||"});
}

TEST_F(MembersTest, LineBreaksInValuesCannotForgeFileContent) {
  TempFolder folder;
  store.AddMember("ann", "pw", "/home/ann");
  const char document[] = "/a\r\n[httpmembers]\r\nhttpmembers=9\n\0x";
  store.MemberLogin("h", "ann", "pw", std::string(document, sizeof document - 1));
  ASSERT_TRUE(store.SaveMembers(folder.Path()));
  MembersStore reloaded;
  ASSERT_TRUE(reloaded.LoadMembers(folder.Path()));
  const auto rows = reloaded.ListMembers().lines;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_NE(rows[0].find("||/a  [httpmembers]  httpmembers=9  x||"), std::string::npos) << rows[0];
}

TEST_F(MembersTest, LoadReadsMissingKeysAsReadfailedAndZero) {
  TempFolder folder;
  folder.Write("httpmembers.lst",
               "[httpmembers]\r\nhttpmembers=3\r\n"
               "[httpmember0]\r\nuser=solo\r\nhome=/s\r\n"
               "[HTTPMEMBER1]\r\nUSER = spaced \r\npass=\r\naddr=1.2.3.4\r\nlasttime=45356.5\r\n");
  store.AddMember("previous", "x", "/p");
  ASSERT_TRUE(store.LoadMembers(folder.Path()));
  EXPECT_EQ(store.ListMembers().lines,
            (std::vector<std::string>{
                "solo||readfailed||/s||readfailed||-||readfailed||",
                "spaced||||readfailed||1.2.3.4||03/05/24 12:00:00||readfailed||",
                "readfailed||readfailed||readfailed||readfailed||-||readfailed||",
            }));
  EXPECT_TRUE(store.MemberLogin("h", "solo", "readfailed", "/"));
}

TEST_F(MembersTest, LoadSurvivesDamagedFiles) {
  const struct {
    std::string text;
    std::vector<std::string> rows;
  } cases[] = {
      {"", {}},
      // A NUL costs the rest of its value only, never the members after it.
      {std::string("[httpmembers]\r\nhttpmembers=2\r\n[httpmember0]\r\nuser=a\0junk\r\npass=p\r\n"
                   "home=h\r\naddr=\r\nlastdoc=\r\n[httpmember1]\r\nuser=b\r\npass=q\r\n"
                   "home=h\r\naddr=\r\nlastdoc=\r\n",
                   147),
       {"a||p||h||-||-||-||", "b||q||h||-||-||-||"}},
      {"[httpmembers]\r\nhttpmembers=abc\r\n[httpmember0]\r\nuser=a\r\n", {}},
      {"[httpmembers]\r\nhttpmembers=-5\r\n", {}},
      {"garbage "
       "line\r\n[httpmembers\r\n=\r\n[httpmembers]\r\nhttpmembers=1\r\n[stray]\r\nuser=no\r\n"
       "[httpmember0]\r\nuser=a\r\nnoequals\r\npass=p\r\nhome=h\r\naddr=\r\nlastdoc=\r\n"
       "lasttime=12x\r\n",
       {"a||p||h||-||-||-||"}},
      {"[httpmembers]\r\nhttpmembers=3\r\n"
       "[httpmember0]\r\nuser=a\r\npass=p\r\nhome=h\r\naddr=\r\nlastdoc=\r\nlasttime=nan\r\n"
       "[httpmember1]\r\nuser=b\r\npass=p\r\nhome=h\r\naddr=\r\nlastdoc=\r\nlasttime=1e300\r\n"
       "[httpmember2]\r\nuser=c\r\npass=p\r\nhome=h\r\naddr=\r\nlastdoc=\r\nlasttime=-inf\r\n",
       {"a||p||h||-||-||-||", "b||p||h||-||-||-||", "c||p||h||-||-||-||"}},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    folder.Write("httpmembers.lst", c.text);
    MembersStore loaded;
    ASSERT_TRUE(loaded.LoadMembers(folder.Path())) << c.text;
    EXPECT_EQ(loaded.ListMembers().lines, c.rows) << c.text;
  }
}

TEST_F(MembersTest, AHugeCountIsCapped) {
  TempFolder folder;
  folder.Write("httpmembers.lst", "[httpmembers]\r\nhttpmembers=2000000000\r\n");
  ASSERT_TRUE(store.LoadMembers(folder.Path()));
  EXPECT_EQ(store.ListMembers().Count(), static_cast<size_t>(MembersStore::kMaxMembers));
}

TEST_F(MembersTest, MissingFileLeavesTheTableAlone) {
  TempFolder folder;
  store.AddMember("keep", "pw", "/k");
  EXPECT_FALSE(store.LoadMembers(folder.Path()));
  EXPECT_EQ(store.ListMembers().Count(), 1u);
  EXPECT_FALSE(store.SaveMembers(folder.File("no/such/folder/")));
  store.ClearMembers();
  EXPECT_TRUE(store.ListMembers().Empty());
}

}  // namespace
}  // namespace morlak

namespace morlak {
namespace {

// New rows are built outside the lock: threads racing to add the same sessions must still
// end with one row per session.
TEST(ActiveUsersConcurrency, RacingTouchesKeepOneRowPerSession) {
  MembersStore store;
  constexpr int kSessions = 200;
  int appended[4] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&store, &appended, t] {
      for (int i = 0; i < kSessions; ++i) {
        const std::string id{'s', static_cast<char>('A' + i % 26), static_cast<char>('A' + i / 26)};
        if (!store.TouchActiveUser(id, "10.0.0.1", "", "", "/d")) ++appended[t];
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(appended[0] + appended[1] + appended[2] + appended[3], kSessions);
  EXPECT_EQ(store.ListActiveUsers().lines.size(), static_cast<size_t>(kSessions));
}

}  // namespace
}  // namespace morlak
