#include "engine/http_sessions.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace morlak {
namespace {

constexpr std::string_view kAlphabet =
    "qwertzuiopasdfghjklyxcvbnmQWERTZUIOPASDFGHJKLYXCVBNM123456789";

TEST(SessionIds, FifteenCharactersOfTheAlphabetAndNoRepeats) {
  std::set<std::string> seen;
  std::set<char> letters;
  for (int i = 0; i < 2000; ++i) {
    const std::string id = NewSessionId();
    ASSERT_EQ(id.size(), 15u);
    for (char c : id) {
      ASSERT_NE(kAlphabet.find(c), std::string_view::npos) << id;
      letters.insert(c);
    }
    EXPECT_TRUE(seen.insert(id).second);
  }
  // 30000 draws leave no letter of a fair alphabet unused.
  EXPECT_EQ(letters.size(), kAlphabet.size());
  EXPECT_EQ(letters.count('0'), 0u);
}

TEST(SessionList, FindIgnoresCaseButNotTheAddress) {
  TIdHTTPDefaultSessionList list;
  int started = 0;
  list.OnSessionStart = [&](TIdHTTPSession& s) {
    ++started;
    EXPECT_EQ(list.Count(), 0u);  // raised before the session joins the list
    EXPECT_EQ(s.ClientAddress(), "127.0.0.1");
  };
  const auto s = list.CreateUnique("127.0.0.1");
  EXPECT_EQ(started, 1);
  EXPECT_EQ(list.Find(s->SessionId(), "127.0.0.1"), s);
  EXPECT_EQ(list.Find(LowerCase(s->SessionId()), "127.0.0.1"), s);
  EXPECT_EQ(list.Find(UpperCase(s->SessionId()), ""), s);
  EXPECT_EQ(list.Find(s->SessionId(), "127.0.0.2"), nullptr);
  EXPECT_EQ(list.Find("nosuchsession00", "127.0.0.1"), nullptr);
}

TEST(SessionList, EndStaleEndsOnlyIdleSessionsEachOnce) {
  TIdHTTPDefaultSessionList list;
  list.SessionTimeout = 50;
  std::multiset<std::string> ended;
  list.OnSessionEnd = [&](TIdHTTPSession& s) { ended.insert(s.SessionId()); };
  const auto idle = list.CreateUnique("a");
  const auto busy = list.CreateUnique("a");
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  ASSERT_EQ(list.Find(busy->SessionId(), "a"), busy);
  list.EndStale(false);
  EXPECT_EQ(ended, (std::multiset<std::string>{idle->SessionId()}));
  EXPECT_EQ(list.Find(idle->SessionId(), "a"), nullptr);
  // A request still holding the ended session keeps a valid object.
  idle->Variables.SetValue("k", "v");
  EXPECT_EQ(idle->Variables.Value("k"), "v");
  list.EndStale(false);
  list.Clear();
  EXPECT_EQ(ended, (std::multiset<std::string>{idle->SessionId(), busy->SessionId()}));
  EXPECT_EQ(list.Count(), 0u);
}

// Sweeps work in batches of the lock; every stale session still ends once, a fresh one stays.
TEST(SessionList, EndStaleEndsLargeNumbersInBatches) {
  TIdHTTPDefaultSessionList list;
  list.SessionTimeout = 50;
  std::multiset<std::string> ended;
  list.OnSessionEnd = [&](TIdHTTPSession& s) { ended.insert(s.SessionId()); };
  for (int i = 0; i < 1000; ++i) list.CreateUnique("a");
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  const auto fresh = list.CreateUnique("a");
  list.EndStale(false);
  EXPECT_EQ(ended.size(), 1000u);
  EXPECT_EQ(std::set<std::string>(ended.begin(), ended.end()).size(), 1000u);
  EXPECT_EQ(ended.count(fresh->SessionId()), 0u);
  EXPECT_EQ(list.Count(), 1u);
}

TEST(SessionList, CleanerEndsEverySessionWhenStopped) {
  TIdHTTPDefaultSessionList list;
  list.SessionTimeout = 60000;
  int ended = 0;
  list.OnSessionEnd = [&](TIdHTTPSession&) { ++ended; };
  list.CreateUnique("a");
  list.CreateUnique("b");
  { TIdHTTPSessionCleanerThread cleaner(list); }
  EXPECT_EQ(ended, 2);
  EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace morlak
