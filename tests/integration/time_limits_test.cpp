// Clients that never finish their request: idle, dripping the header, or stalling the
// body. Each is dropped within the connection server's bounds and frees its slot, while
// an upload that keeps moving is never cut; deactivation with such clients open is quick.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "integration/test_server.h"
#include "platform/stream.h"
#include "support/socket_client.h"
#include "support/temp_folder.h"

namespace morlak::test_support {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kBoundMs = 1000;

void Limit(TIdHTTPServer& server) {
  server.HeaderTimeout = kBoundMs;
  server.BodyGapTimeout = kBoundMs;
  server.BodyRateGrace = kBoundMs;
  server.MaxConnections = 1;
}

TEST(TimeLimits, SlowClientsAreDroppedAndFreeTheirSlot) {
  const struct {
    const char* name;
    std::string start;  // sent at once
    int drips;          // then one byte every 200 ms, up to this many
  } cases[] = {
      {"idle", "", 0},
      {"dripping header", "GET / HTTP/1.1\r\n", 40},
      {"stalled body", "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n0123456789", 0},
      {"dripping body", "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n", 40},
  };
  TestServer t;
  Limit(t.server);
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.BodyText = "ok";
  };
  const int port = t.Start();
  for (const auto& c : cases) {
    ASSERT_TRUE(t.WaitIdle()) << c.name;  // the last exchange's slot is free
    const auto begin = Clock::now();
    LoopbackClient slow(port);
    slow.Send(c.start);
    for (int i = 0; i < c.drips && t.server.ConnectionCount() > 0; ++i) {
      std::this_thread::sleep_for(milliseconds(200));
      slow.Send("X");
    }
    EXPECT_TRUE(slow.ClosedByServer(10000)) << c.name;
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - begin).count();
    EXPECT_GE(took, kBoundMs - 100) << c.name;
    EXPECT_LT(took, 6000) << c.name << ": dropped long after the bound";
    ASSERT_TRUE(t.WaitIdle()) << c.name;
    // The only slot is free again.
    EXPECT_NE(Exchange(port, "GET / HTTP/1.1\r\n\r\n").find("\r\n\r\nok"), std::string::npos)
        << c.name;
  }
}

TEST(TimeLimits, AnUploadThatKeepsMovingIsNotCut) {
  TestServer t;
  Limit(t.server);
  size_t received = 0;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    received = rq.FormText.size();
    rs.BodyText = "ok";
  };
  const int port = t.Start();
  // 30 pieces 100 ms apart: three times the header bound in all, never a long gap.
  const std::string piece(8192, 'u');
  LoopbackClient client(port);
  client.Send("POST / HTTP/1.1\r\nContent-Length: " + std::to_string(30 * piece.size()) +
              "\r\n\r\n");
  for (int i = 0; i < 30; ++i) {
    std::this_thread::sleep_for(milliseconds(100));
    client.Send(piece);
  }
  EXPECT_NE(client.ReadAll().find("\r\n\r\nok"), std::string::npos);
  EXPECT_EQ(received, 30 * piece.size());
}

// Answers far larger than the socket buffers, to a client that never reads: a page built
// in memory and a file.
TEST(TimeLimits, AClientThatNeverReadsIsDroppedAtTheSendBound) {
  TempFolder dir;
  const std::string big(32 << 20, 'x');
  const std::string file = dir.Write("big.bin", big);
  TestServer t;
  t.server.SendTimeout = kBoundMs;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    if (rq.DocumentPath == "/file")
      rs.BodyStream = std::make_unique<TFileStream>(file, TFileStream::Mode::kRead);
    else
      rs.BodyText = big;
  };
  const int port = t.Start();
  for (const char* path : {"/page", "/file"}) {
    const auto begin = Clock::now();
    LoopbackClient reader(port);
    reader.Send(std::string("GET ") + path + " HTTP/1.1\r\n\r\n");
    while (t.server.ConnectionCount() == 0 && Clock::now() - begin < milliseconds(5000))
      std::this_thread::sleep_for(milliseconds(10));
    EXPECT_TRUE(t.WaitIdle(15000)) << path;
    EXPECT_GE(Clock::now() - begin, milliseconds(kBoundMs - 100)) << path;
  }
}

TEST(TimeLimits, DeactivationWithManyIdleClientsIsQuick) {
  TestServer t;
  t.server.TerminateWaitTime = 3000;
  t.server.ListenQueue = 512;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {};
  const int port = t.Start();
  std::vector<std::unique_ptr<LoopbackClient>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<LoopbackClient>(port));
    idle.back()->Send("GET / HTTP/1.1\r\n");  // the header never ends
  }
  const auto begin = Clock::now();
  while (t.server.ConnectionCount() < idle.size() &&
         Clock::now() - begin < std::chrono::seconds(10))
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_EQ(t.server.ConnectionCount(), idle.size());
  // One attempt within TerminateWaitTime, not a retry loop.
  EXPECT_NO_THROW(t.server.SetActive(false));
  EXPECT_FALSE(t.server.Active());
  EXPECT_EQ(t.server.ConnectionCount(), 0u);
}

}  // namespace
}  // namespace morlak::test_support
