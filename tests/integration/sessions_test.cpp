// Sessions over real connections: the cookie, address binding, letter case, idle expiry,
// deactivation and stale cookies.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>

#include "integration/test_server.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

constexpr std::string_view kAlphabet =
    "qwertzuiopasdfghjklyxcvbnmQWERTZUIOPASDFGHJKLYXCVBNM123456789";

// The identifier of the answer's session cookie, empty when it has none.
std::string CookieId(const std::string& answer) {
  const std::string marker = "\r\nSet-Cookie: IDHTTPSESSIONID=";
  const size_t at = answer.find(marker);
  if (at == std::string::npos) return std::string();
  const size_t start = at + marker.size();
  return answer.substr(start, answer.find(';', start) - start);
}

std::string Body(const std::string& answer) {
  const size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

std::string WithCookie(const std::string& cookieHeader) {
  return "GET / HTTP/1.1\r\nCookie: " + cookieHeader + "\r\n\r\n";
}

class Sessions : public ::testing::Test {
 protected:
  void Start(int timeoutMs) {
    t_.server.SetSessionState(true);
    t_.server.AutoStartSession = true;
    t_.server.SessionTimeOut = timeoutMs;
    t_.server.OnSessionStart = [this](TIdHTTPSession&) { ++started_; };
    t_.server.OnSessionEnd = [this](TIdHTTPSession& s) {
      std::lock_guard lock(m_);
      ended_.insert(s.SessionId());
      ++endCount_;
    };
    t_.server.OnInvalidSession = [this](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&,
                                        bool& goOn, const std::string& id) {
      std::lock_guard lock(m_);
      invalid_.push_back(id);
      goOn = true;
    };
    t_.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
      rs.BodyText = rq.Session ? rq.Session->SessionId() : "none";
    };
    port_ = t_.Start();
  }

  std::string Get(const std::string& request, const std::string& from = "") {
    return Exchange(port_, request, from);
  }

  std::atomic<int> started_{0};
  std::mutex m_;
  std::multiset<std::string> ended_;
  int endCount_ = 0;
  std::vector<std::string> invalid_;
  int port_ = 0;
  TestServer t_;  // last: it ends its sessions before the members above go away
};

TEST_F(Sessions, NewClientGetsACookieOfFifteenAlphabetCharacters) {
  Start(60000);
  const std::string answer = Get("GET / HTTP/1.1\r\n\r\n");
  const std::string id = CookieId(answer);
  ASSERT_EQ(id.size(), 15u) << answer;
  for (char c : id) EXPECT_NE(kAlphabet.find(c), std::string_view::npos);
  EXPECT_NE(answer.find("\r\nSet-Cookie: IDHTTPSESSIONID=" + id +
                        "; path=/; HttpOnly; SameSite=Lax\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(Body(answer), id);
  EXPECT_EQ(started_, 1);
}

TEST_F(Sessions, SameCookieFindsTheSessionInAnyLetterCase) {
  Start(60000);
  const std::string id = CookieId(Get("GET / HTTP/1.1\r\n\r\n"));
  const std::string again = Get(WithCookie("IDHTTPSESSIONID=" + LowerCase(id)));
  EXPECT_EQ(Body(again), id);
  EXPECT_EQ(CookieId(again), "");
  EXPECT_EQ(Body(Get(WithCookie("other=1; idhttpsessionid=" + UpperCase(id)))), id);
  EXPECT_EQ(started_, 1);
  EXPECT_TRUE(invalid_.empty());
}

TEST_F(Sessions, CookieFromAnotherAddressStartsANewSession) {
  Start(60000);
  const std::string id = CookieId(Get("GET / HTTP/1.1\r\n\r\n", "127.0.0.1"));
  const std::string other = Get(WithCookie("IDHTTPSESSIONID=" + id), "127.0.0.2");
  const std::string newId = CookieId(other);
  EXPECT_EQ(newId.size(), 15u);
  EXPECT_NE(newId, id);
  EXPECT_EQ(Body(other), newId);
  EXPECT_EQ(invalid_, std::vector<std::string>{id});
  EXPECT_EQ(started_, 2);
}

TEST_F(Sessions, FirstCookieStaleSecondValid) {
  Start(60000);
  const std::string id = CookieId(Get("GET / HTTP/1.1\r\n\r\n"));
  const std::string answer =
      Get(WithCookie("IDHTTPSESSIONID=staleSession123; IDHTTPSESSIONID=" + id));
  EXPECT_EQ(Body(answer), id);
  EXPECT_EQ(CookieId(answer), "");
  EXPECT_EQ(invalid_, std::vector<std::string>{"staleSession123"});
  EXPECT_EQ(started_, 1);
}

TEST_F(Sessions, IdleSessionEndsOnceAfterTheTimeout) {
  Start(1000);
  const std::string id = CookieId(Get("GET / HTTP/1.1\r\n\r\n"));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    {
      std::lock_guard lock(m_);
      if (endCount_ > 0 || std::chrono::steady_clock::now() > deadline) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // one more sweep
  {
    std::lock_guard lock(m_);
    EXPECT_EQ(ended_, std::multiset<std::string>{id});
  }
  // The old cookie is now unknown: a new session replaces it.
  const std::string answer = Get(WithCookie("IDHTTPSESSIONID=" + id));
  EXPECT_EQ(CookieId(answer).size(), 15u);
  EXPECT_EQ(invalid_, std::vector<std::string>{id});
  t_.server.SetActive(false);
  std::lock_guard lock(m_);
  EXPECT_EQ(endCount_, 2);
}

TEST_F(Sessions, DeactivationEndsEverySessionAndReactivationStartsEmpty) {
  Start(60000);
  std::set<std::string> ids;
  for (int i = 0; i < 3; ++i) ids.insert(CookieId(Get("GET / HTTP/1.1\r\n\r\n")));
  t_.server.SetActive(false);
  {
    std::lock_guard lock(m_);
    EXPECT_EQ(std::set<std::string>(ended_.begin(), ended_.end()), ids);
    EXPECT_EQ(endCount_, 3);
  }
  t_.server.SetActive(true);
  EXPECT_EQ(t_.server.SessionList().Count(), 0u);
  try {
    t_.server.SetSessionState(false);
    ADD_FAILURE();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Cannot change session state when the server is active.");
  }
}

TEST_F(Sessions, ZeroTimeoutSwitchesSessionsOff) {
  Start(0);
  const std::string answer = Get("GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(CookieId(answer), "");
  EXPECT_EQ(Body(answer), "none");
  EXPECT_FALSE(t_.server.SessionState());
}

// A cookie-less flood from one address ends that address's oldest sessions, with their end
// events, and never a session of another address; the total cap ends the least recently
// used.
TEST_F(Sessions, CapsEndTheOldestSessionsOfTheFloodingAddress) {
  t_.server.MaxSessionsPerAddress = 10;
  t_.server.MaxSessions = 30;
  Start(600000);
  const std::string other = CookieId(Get("GET / HTTP/1.1\r\n\r\n", "127.0.0.2"));
  std::vector<std::string> flood;
  for (int i = 0; i < 50; ++i) flood.push_back(CookieId(Get("GET / HTTP/1.1\r\n\r\n")));
  ASSERT_TRUE(t_.WaitIdle());
  EXPECT_EQ(t_.server.SessionList().Count(), 11u);
  {
    std::lock_guard lock(m_);
    EXPECT_EQ(endCount_, 40);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(ended_.count(flood[i]), 1u) << i;
  }
  EXPECT_EQ(Body(Get(WithCookie("IDHTTPSESSIONID=" + other), "127.0.0.2")), other);
  EXPECT_EQ(Body(Get(WithCookie("IDHTTPSESSIONID=" + flood.back()))), flood.back());

  // 25 more addresses with one session each pass the total of 30.
  for (int i = 3; i < 28; ++i) Get("GET / HTTP/1.1\r\n\r\n", "127.0.0." + std::to_string(i));
  ASSERT_TRUE(t_.WaitIdle());
  EXPECT_LE(t_.server.SessionList().Count(), 30u);
  std::lock_guard lock(m_);
  EXPECT_EQ(static_cast<size_t>(started_) - ended_.size(), t_.server.SessionList().Count());
}

}  // namespace
}  // namespace morlak::test_support
