#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "engine/engine_errors.h"
#include "platform/socket.h"
#include "platform/thread_pool.h"

namespace morlak {
namespace {

TEST(SocketErrors, MessagesUseTheCodeTable) {
  EXPECT_EQ(SocketErrorMessage(10054), "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(SocketErrorMessage(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(SocketErrorMessage(10066), "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_EQ(SocketErrorMessage(12345), "Socket Error # 12345\r\n");
  const EIdSocketError e(10048);
  EXPECT_EQ(e.LastError(), 10048);
  EXPECT_STREQ(e.what(), "Socket Error # 10048\r\nAddress already in use.");
}

TEST(SocketErrors, FailedCallsReportMappedCodes) {
  const SocketHandle s = SocketCreateStream();
  ASSERT_NE(s, kInvalidSocket);
  EXPECT_FALSE(SocketConnect(s, "127.0.0.1", 1));  // nothing listens on port 1
  EXPECT_EQ(LastSocketErrorCode(), 10061);
  SocketClose(s);
  const SocketHandle t = SocketCreateStream();
  EXPECT_FALSE(SocketBind(t, "not an address", 0));
  EXPECT_EQ(LastSocketErrorCode(), 10049);
  SocketClose(t);
}

// The peer address is formatted by hand; clients bound to other loopback addresses cover
// one-, two- and three-digit parts.
TEST(SocketAccept, GivesThePeerAddressInDottedDecimal) {
  const SocketHandle listener = SocketCreateStream();
  ASSERT_TRUE(SocketBind(listener, "127.0.0.1", 0));
  ASSERT_TRUE(SocketListen(listener, 8));
  SocketAddress local;
  ASSERT_TRUE(SocketLocalAddress(listener, local));
  EXPECT_EQ(local.ip, "127.0.0.1");
  for (const char* ip : {"127.0.0.1", "127.10.200.5", "127.255.99.250"}) {
    const SocketHandle client = SocketCreateStream();
    ASSERT_TRUE(SocketBind(client, ip, 0));
    SocketAddress bound;
    ASSERT_TRUE(SocketLocalAddress(client, bound));
    ASSERT_TRUE(SocketConnect(client, "127.0.0.1", local.port));
    SocketAddress peer;
    const SocketHandle accepted = SocketAccept(listener, peer);
    ASSERT_NE(accepted, kInvalidSocket);
    EXPECT_EQ(peer.ip, ip);
    EXPECT_EQ(peer.port, bound.port);
    SocketClose(accepted);
    SocketClose(client);
  }
  SocketClose(listener);
}

TEST(ParkedThreadPool, FinishedThreadsTakeTheNextJobs) {
  ParkedThreadPool pool(4, 10000);
  std::mutex m;
  std::set<std::thread::id> ids;
  std::atomic<int> done{0};
  auto job = [&] {
    std::lock_guard lock(m);
    ids.insert(std::this_thread::get_id());
    ++done;
  };
  for (int i = 0; i < 20; ++i) {
    pool.Run(job);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done.load() <= i && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (pool.IdleCount() == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(done, 20);
  EXPECT_EQ(ids.size(), 1u);  // one thread, parked and reused every time
}

TEST(ParkedThreadPool, JobsNeverWaitForEachOtherAndDestructionWaitsForAll) {
  std::atomic<int> running{0}, peak{0}, finished{0};
  {
    ParkedThreadPool pool(2, 10000);
    for (int i = 0; i < 6; ++i)
      pool.Run([&] {
        const int now = ++running;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        --running;
        ++finished;
      });
  }
  EXPECT_EQ(finished, 6);
  EXPECT_EQ(peak, 6);
}

}  // namespace
}  // namespace morlak
