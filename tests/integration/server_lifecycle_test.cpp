// Activation, deactivation and the connection limit of a real listener.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <thread>
#include <vector>

#include "engine/engine_errors.h"
#include "integration/test_server.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

using Clock = std::chrono::steady_clock;

const char kGet[] = "GET / HTTP/1.1\r\n\r\n";

void AnswerOk(TIdHTTPServer& server) {
  server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.BodyText = "ok";
  };
}

TEST(ServerLifecycle, BindOnAUsedPortFailsAndLeavesTheServerInactive) {
  TestServer first;
  AnswerOk(first.server);
  const int port = first.Start();

  TIdHTTPServer second;
  second.Bindings.push_back({"127.0.0.1", port});
  AnswerOk(second);
  try {
    second.SetActive(true);
    ADD_FAILURE() << "bind succeeded";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.BoundPort(), 0);
  EXPECT_NE(Exchange(port, kGet).find("\r\n\r\nok"), std::string::npos);
}

TEST(ServerLifecycle, ReactivationListensAgainWithAnEmptySessionList) {
  TestServer t;
  AnswerOk(t.server);
  const int port = t.Start();
  EXPECT_NE(Exchange(port, kGet).find("ok"), std::string::npos);
  t.server.SetActive(false);
  EXPECT_FALSE(LoopbackClient(port).Connected());
  // The same port again right away, although its old connections wait in TIME_WAIT.
  t.server.Bindings = {{"127.0.0.1", port}};
  t.server.SetActive(true);
  EXPECT_EQ(t.server.BoundPort(), port);
  EXPECT_NE(Exchange(port, kGet).find("ok"), std::string::npos);
}

TEST(ServerLifecycle, MaxConnectionsRefusesAThirdClientWithoutAByte) {
  TestServer t;
  t.server.MaxConnections = 2;
  AnswerOk(t.server);
  const int port = t.Start();

  LoopbackClient a(port), b(port);
  a.Send("GET / HTTP/1.1\r\n");  // both hold their connection mid-request
  b.Send("GET / HTTP/1.1\r\n");
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (t.server.ConnectionCount() < 2 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(t.server.ConnectionCount(), 2u);

  LoopbackClient third(port);
  third.Send(kGet);
  EXPECT_TRUE(third.ClosedByServer());

  a.Send("\r\n");
  b.Send("\r\n");
  EXPECT_NE(a.ReadAll().find("\r\n\r\nok"), std::string::npos);
  EXPECT_NE(b.ReadAll().find("\r\n\r\nok"), std::string::npos);
  ASSERT_TRUE(t.WaitIdle());
  EXPECT_NE(Exchange(port, kGet).find("\r\n\r\nok"), std::string::npos);
}

TEST(ServerLifecycle, RefusedClientGetsTheReplyTextWhenThereIsOne) {
  TestServer t;
  t.server.MaxConnections = 1;
  t.server.MaxConnectionReply.Text = {
      "Error: Maximum connection count exceeded. Please try again later."};
  AnswerOk(t.server);
  const int port = t.Start();
  LoopbackClient holder(port);
  holder.Send("GET");
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (t.server.ConnectionCount() < 1 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(Exchange(port, kGet),
            "Error: Maximum connection count exceeded. Please try again later.\r\n");
}

TEST(ServerLifecycle, DeactivationClosesAHeldConnectionWithinTheWaitTime) {
  TestServer t;
  t.server.TerminateWaitTime = 2000;
  AnswerOk(t.server);
  const int port = t.Start();
  LoopbackClient holder(port);
  holder.Send("GET / HTTP/1.1\r\nHost: x\r\n");  // never finishes the request
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (t.server.ConnectionCount() < 1 && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(t.server.ConnectionCount(), 1u);

  const auto start = Clock::now();
  t.server.SetActive(false);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_FALSE(t.server.Active());
  EXPECT_TRUE(holder.ClosedByServer());
}

TEST(ServerLifecycle, BusyHandlerPastTheWaitTimeKeepsTheServerActiveUntilItEnds) {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, release = false;
  TestServer t;
  t.server.TerminateWaitTime = 250;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {
    std::unique_lock lock(m);
    entered = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
  };
  const int port = t.Start();
  LoopbackClient client(port);
  client.Send(kGet);
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return entered; }));
  }
  try {
    t.server.SetActive(false);
    ADD_FAILURE() << "deactivated with a busy handler";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Terminate Thread Timeout");
  }
  EXPECT_TRUE(t.server.Active());
  EXPECT_FALSE(LoopbackClient(port).Connected());  // no longer listening
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  t.server.SetActive(false);
  EXPECT_FALSE(t.server.Active());
}

// More handlers than the threads that accept on their own account: the next client is
// still accepted and served while they all wait.
TEST(ServerLifecycle, NewClientIsServedWhileHandlersHoldEveryAcceptingThread) {
  std::mutex m;
  std::condition_variable cv;
  int held = 0;
  bool release = false;
  TestServer t;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    rs.BodyText = "ok";
    if (rq.DocumentPath != "/hold") return;
    std::unique_lock lock(m);
    ++held;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
  };
  const int port = t.Start();
  const int kHeld = 2 * static_cast<int>(std::thread::hardware_concurrency()) + 20;
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (int i = 0; i < kHeld; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(port));
    clients.back()->Send("GET /hold HTTP/1.1\r\n\r\n");
  }
  {
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return held == kHeld; }));
  }
  EXPECT_NE(Exchange(port, kGet).find("\r\n\r\nok"), std::string::npos);
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  for (auto& c : clients) EXPECT_NE(c->ReadAll().find("\r\n\r\nok"), std::string::npos);
}

TEST(ServerLifecycle, KeepAliveCarriesSeveralRequestsUntilA404) {
  TestServer t;
  t.server.KeepAlive = true;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    if (rq.DocumentPath == "/missing") rs.SetStatusCode(404);
    rs.BodyText = rq.DocumentPath;
  };
  const int port = t.Start();
  LoopbackClient client(port);
  client.Send("GET /one HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n");
  const std::string first = client.ReadSome(5000);
  EXPECT_NE(first.find("Connection: keep-alive\r\n"), std::string::npos) << first;
  client.Send("GET /missing HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
  const std::string second = client.ReadAll();
  EXPECT_EQ(second.rfind("HTTP/1.1 404 Not Found\r\nConnection: close\r\n", 0), 0u) << second;
  EXPECT_FALSE(client.timedOut);
}

TEST(ServerLifecycle, ConcurrentClientsAreAllServedAndNoConnectionOutlivesThem) {
  std::atomic<int> handled{0};
  TestServer t;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    ++handled;
    rs.BodyText = rq.DocumentPath;
  };
  const int port = t.Start();
  constexpr int kThreads = 8, kRequests = 50;
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kThreads; ++i)
    clients.emplace_back([&, i] {
      for (int k = 0; k < kRequests; ++k) {
        std::string path(1, '/');
        path.append(std::to_string(i)).append(1, '/').append(std::to_string(k));
        const std::string answer = Exchange(port, "GET " + path + " HTTP/1.1\r\n\r\n");
        if (answer.size() > path.size() && answer.substr(answer.size() - path.size()) == path)
          ++good;
      }
    });
  for (auto& c : clients) c.join();
  EXPECT_EQ(good, kThreads * kRequests);
  EXPECT_EQ(handled, kThreads * kRequests);
  EXPECT_TRUE(t.WaitIdle());
  EXPECT_TRUE(t.TakeExceptions().empty());
}

}  // namespace
}  // namespace morlak::test_support

namespace morlak::test_support {
namespace {

// A handler that waits for the deactivating thread (a front end's synchronised call)
// finishes when that thread serves the call from the wait hook.
TEST(ServerLifecycle, DeactivateWaitHookServesCallsTheHandlersWaitFor) {
  std::mutex m;
  std::condition_variable cv;
  bool requested = false, served = false;
  int hookCalls = 0;
  TestServer t;
  t.server.TerminateWaitTime = 3000;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {
    std::unique_lock lock(m);
    requested = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(10), [&] { return served; });
  };
  t.server.OnDeactivateWait = [&] {
    ++hookCalls;
    std::lock_guard lock(m);
    if (requested) served = true;
    cv.notify_all();
  };
  const int port = t.Start();
  LoopbackClient client(port);
  client.Send("GET / HTTP/1.1\r\n\r\n");
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return requested; }));
  }
  const auto start = Clock::now();
  t.server.SetActive(false);
  EXPECT_FALSE(t.server.Active());
  EXPECT_GE(hookCalls, 1);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace morlak::test_support

namespace morlak::test_support {
namespace {

TEST(ServerLifecycle, SilentClientIsStillAcceptedAndCounted) {
  std::atomic<int> connects{0};
  TestServer t;
  t.server.OnConnect = [&](TIdPeerThread&) { ++connects; };
  AnswerOk(t.server);
  const int port = t.Start();
  LoopbackClient silent(port);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (connects == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(t.server.ConnectionCount(), 1u);
}

}  // namespace
}  // namespace morlak::test_support
