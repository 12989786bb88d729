// The connection primitives under a plain TCP server: lines, exact counts, streams, the
// write buffer and the connection events.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "engine/engine_errors.h"
#include "engine/tcp_server.h"
#include "platform/stream.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

// A stream that is neither a file nor memory, and may end before its announced size.
class CountingStream : public TStream {
 public:
  CountingStream(int64_t size, int64_t available) : size_(size), available_(available) {}
  size_t Read(void* buffer, size_t count) override {
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, available_ - position_));
    std::memset(buffer, 'c', n);
    position_ += static_cast<int64_t>(n);
    return n;
  }
  void Write(const void*, size_t) override {}
  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }

 private:
  int64_t size_, available_, position_ = 0;
};

class TcpConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Bindings.push_back({"127.0.0.1", 0});
    server_.OnConnect = [this](TIdPeerThread&) { ++connects_; };
    server_.OnDisconnect = [this](TIdPeerThread&) { ++disconnects_; };
    server_.OnException = [this](TIdPeerThread&, const std::exception& e) {
      std::lock_guard lock(m_);
      exceptions_.push_back(e.what());
    };
    // Protocol: a command line, then its work; the connection closes after one command.
    server_.OnExecute = [](TIdPeerThread& thread) {
      TIdTCPServerConnection& c = thread.Connection();
      const std::string command = c.ReadLine();
      if (command == "exact") {
        char buffer[5];
        c.ReadExact(buffer, sizeof buffer);
        c.WriteLine(std::string(buffer, sizeof buffer));
      } else if (command == "memory") {
        TMemoryStream s("0123456789");
        s.Seek(4);
        c.WriteFromStream(s, false, 3);
      } else if (command == "stream") {
        CountingStream s(70000, 70000);
        c.WriteFromStream(s);
      } else if (command == "short") {
        CountingStream s(100, 40);
        c.WriteFromStream(s);
      } else if (command == "batch") {
        c.BeginBatch();
        c.WriteText("a");
        c.WriteLine("b");
        c.WriteBytes("c", 1);
        c.EndBatch();
      } else if (command == "until-close") {
        TMemoryStream s;
        c.ReadToStream(s, -1, true);
        c.WriteText(std::to_string(s.Size()));
      } else if (command == "split") {
        c.MaxLineAction = TIdMaxLineAction::maSplit;
        c.WriteLine(c.ReadLine('\n', TIdTCPConnection::kUseDefault, 4));
      }
      c.Close();
    };
    server_.SetActive(true);
    port_ = server_.BoundPort();
  }

  bool WaitIdle() {
    for (int i = 0; i < 2500 && server_.ConnectionCount() != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return server_.ConnectionCount() == 0;
  }

  int port_ = 0;
  std::atomic<int> connects_{0}, disconnects_{0};
  std::mutex m_;
  std::vector<std::string> exceptions_;
  TIdTCPServer server_;  // last: stops before the members its handlers use
};

TEST_F(TcpConnection, Primitives) {
  EXPECT_EQ(Exchange(port_, "exact\nabcdefgh"), "abcde\r\n");
  EXPECT_EQ(Exchange(port_, "memory\r\n"), "456");
  EXPECT_EQ(Exchange(port_, "stream\n"), std::string(70000, 'c'));
  EXPECT_EQ(Exchange(port_, "batch\n"), "ab\r\nc");
  EXPECT_EQ(Exchange(port_, "split\nabcdefgh\n"), "abcd\r\n");
  LoopbackClient client(port_);
  client.Send("until-close\n" + std::string(100000, 'u'));
  client.ShutdownSend();
  EXPECT_EQ(client.ReadAll(), "100000");
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(connects_, 6);
  EXPECT_EQ(disconnects_, 6);
  std::lock_guard lock(m_);
  EXPECT_TRUE(exceptions_.empty());
}

TEST_F(TcpConnection, FailuresReachOnException) {
  EXPECT_EQ(Exchange(port_, "short\n"), std::string(40, 'c'));
  LoopbackClient client(port_);
  client.Send("exact\nab");
  client.ShutdownSend();  // ends before the five bytes
  EXPECT_TRUE(client.ClosedByServer());
  ASSERT_TRUE(WaitIdle());
  std::lock_guard lock(m_);
  EXPECT_EQ(exceptions_,
            (std::vector<std::string>{"No data to read.", "Connection Closed Gracefully."}));
}

TEST(TcpServer, WithoutAnExecuteHandlerTheConnectionEnds) {
  std::string error;
  TIdTCPServer server;
  server.Bindings.push_back({"127.0.0.1", 0});
  server.OnException = [&](TIdPeerThread&, const std::exception& e) { error = e.what(); };
  server.SetActive(true);
  EXPECT_EQ(Exchange(server.BoundPort(), "x\n"), "");
  for (int i = 0; i < 2500 && server.ConnectionCount() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(error, "No execute handler found.");
}

}  // namespace
}  // namespace morlak::test_support
