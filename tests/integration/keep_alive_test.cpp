// Kept connections through the real engine on loopback: which answers keep the
// connection, pipelined requests answered in order, the request cap, the interim answer to
// "Expect", the idle bound, and idle connections held without threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "integration/test_server.h"
#include "support/process_state.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

struct Answer {
  std::string head, body;
  bool Keeps() const { return head.find("\r\nConnection: keep-alive") != std::string::npos; }
};

// Reads until `count` whole answers arrived (one without a length ends at the close) or
// nothing more comes.
std::vector<Answer> ReadAnswers(LoopbackClient& client, size_t count) {
  std::vector<Answer> answers;
  std::string bytes, more = "-";
  while (answers.size() < count) {
    const size_t end = bytes.find("\r\n\r\n");
    if (end != std::string::npos) {
      const size_t at = bytes.find("Content-Length: ");
      const size_t length = at < end ? std::stoul(bytes.substr(at + 16)) : bytes.size() - end - 4;
      if (at < end ? bytes.size() >= end + 4 + length : more.empty()) {
        answers.push_back({bytes.substr(0, end), bytes.substr(end + 4, length)});
        bytes.erase(0, end + 4 + length);
        continue;
      }
    }
    if (more.empty()) break;
    bytes += more = client.ReadSome(3000);
  }
  return answers;
}

class KeepAliveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.server.KeepAlive = true;
    t.server.OnCommandGet = [](TIdPeerThread& thread, TIdHTTPRequestInfo& rq,
                               TIdHTTPResponseInfo& rs) {
      if (rq.DocumentPath == "/missing") {
        rs.SetStatusCode(404);
      } else if (rq.DocumentPath == "/streamed") {
        rs.SendHeader();
        thread.Connection().WriteText("no length");
      } else {
        rs.BodyText = "ok " + rq.DocumentPath + " " + rq.FormText;
      }
    };
  }
  TestServer t;
};

TEST_F(KeepAliveTest, AnswerSaysWhetherTheConnectionStaysOpen) {
  const struct {
    const char* request;
    size_t answers;
    bool keeps;  // the last answer says keep-alive
    bool open;   // and the connection serves again
    const char* lastBody;
  } cases[] = {
      {"GET /a HTTP/1.1\r\n\r\n", 1, true, true, "ok /a "},
      {"GET /a HTTP/1.1\r\nConnection: close\r\n\r\n", 1, false, false, "ok /a "},
      {"GET /a HTTP/1.0\r\n\r\n", 1, false, false, "ok /a "},
      {"GET /a HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", 1, true, true, "ok /a "},
      {"GET /missing HTTP/1.1\r\n\r\n", 1, false, false, ""},
      {"GET /streamed HTTP/1.1\r\n\r\n", 1, false, false, "no length"},
      {"HEAD /a HTTP/1.1\r\n\r\n", 1, false, false, "ok /a "},  // a body all the same
      {"OPTIONS /a HTTP/1.1\r\n\r\n", 0, false, false, ""},
      // Pipelined: the body ends where its length says, the next request follows.
      {"POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nx=1GET /b HTTP/1.1\r\n\r\n", 2, true, true,
       "ok /b "},
      // Garbage after a good request: the good one is answered, then the connection closes.
      {"GET /a HTTP/1.1\r\n\r\ngarbage\r\n", 1, true, false, "ok /a "},
  };
  const int port = t.Start();
  for (const auto& c : cases) {
    LoopbackClient client(port);
    client.Send(c.request);
    const std::vector<Answer> answers = ReadAnswers(client, c.answers);
    ASSERT_EQ(answers.size(), c.answers) << c.request;
    if (c.answers > 0) {
      EXPECT_EQ(answers.back().Keeps(), c.keeps) << answers.back().head;
      EXPECT_EQ(answers.back().body.substr(0, 9), c.lastBody) << c.request;
    }
    if (c.open) client.Send("GET /again HTTP/1.1\r\n\r\n");
    EXPECT_EQ(c.open ? ReadAnswers(client, 1).size() == 1 : client.ClosedByServer(), true)
        << c.request;
  }
}

TEST_F(KeepAliveTest, ConnectionClosesAfterItsRequestCap) {
  const int port = t.Start();
  std::string requests = "POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nx=1";
  for (int i = 1; i <= TIdHTTPServer::kMaxRequestsPerConnection; ++i)
    requests += "GET /" + std::to_string(i) + " HTTP/1.1\r\n\r\n";
  LoopbackClient client(port);
  client.Send(requests);
  const std::vector<Answer> answers =
      ReadAnswers(client, TIdHTTPServer::kMaxRequestsPerConnection + 1);
  ASSERT_EQ(answers.size(), static_cast<size_t>(TIdHTTPServer::kMaxRequestsPerConnection));
  EXPECT_EQ(answers.front().body, "ok /p x=1");
  EXPECT_TRUE(answers[answers.size() - 2].Keeps());
  EXPECT_FALSE(answers.back().Keeps());
  EXPECT_EQ(answers.back().body, "ok /999 ");
  EXPECT_TRUE(t.TakeExceptions().empty());
}

// More pipelined bytes than one read takes (32 KiB), the first read ending on a request
// boundary: the rest, which arrived before that read, must be read without a new arrival.
TEST_F(KeepAliveTest, PipelinedRequestsBeyondOneReadAreAllAnswered) {
  const int port = t.Start();
  const size_t requestSize = 64, count = 600;
  std::string requests;
  for (size_t i = 100; i < 100 + count; ++i)
    requests +=
        "GET /" + std::to_string(i) + " HTTP/1.1\r\nX: " + std::string(38, 'x') + "\r\n\r\n";
  ASSERT_EQ(requests.size(), requestSize * count);
  LoopbackClient client(port);
  // A first answer, and a moment for the connection to go back to waiting.
  client.Send("GET /first HTTP/1.1\r\n\r\n");
  ASSERT_EQ(ReadAnswers(client, 1).size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  client.Send(requests);
  const std::vector<Answer> answers = ReadAnswers(client, count);
  ASSERT_EQ(answers.size(), count);
  EXPECT_EQ(answers.back().body, "ok /699 ");
}

TEST_F(KeepAliveTest, ExpectationIsAnsweredBeforeTheBody) {
  const int port = t.Start();
  LoopbackClient client(port), other(port);
  client.Send("POST /p HTTP/1.1\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\n");
  EXPECT_EQ(client.ReadSome(3000), "HTTP/1.1 100 Continue\r\n\r\n");
  client.Send("y=2");
  const std::vector<Answer> answers = ReadAnswers(client, 1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].body, "ok /p y=2");

  other.Send("POST /p HTTP/1.1\r\nContent-Length: 3\r\nExpect: something-else\r\n\r\n");
  const std::vector<Answer> refused = ReadAnswers(other, 1);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_TRUE(refused[0].head.starts_with("HTTP/1.1 417 Expectation Failed\r\n"));
}

TEST_F(KeepAliveTest, IdleConnectionsEndAtTheirBoundAndOnDeactivation) {
  t.server.KeepAliveTimeout = t.server.HeaderTimeout = 300;
  std::atomic<int> disconnects = 0;
  t.server.OnDisconnect = [&](TIdPeerThread&) { ++disconnects; };
  const int port = t.Start();
  LoopbackClient kept(port), silent(port);
  kept.Send("GET /a HTTP/1.1\r\n\r\n");
  ASSERT_EQ(ReadAnswers(kept, 1).size(), 1u);
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_TRUE(kept.ClosedByServer(5000));
  EXPECT_TRUE(silent.ClosedByServer(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
  ASSERT_TRUE(t.WaitIdle());
  EXPECT_EQ(disconnects, 2);

  t.server.KeepAliveTimeout = 0;
  LoopbackClient waiting(port);
  waiting.Send("GET /a HTTP/1.1\r\n\r\n");
  ASSERT_EQ(ReadAnswers(waiting, 1).size(), 1u);
  t.server.SetActive(false);
  EXPECT_TRUE(waiting.ClosedByServer(1000));
}

TEST_F(KeepAliveTest, IdleConnectionsHoldNoThreads) {
  constexpr size_t kIdle = 1000;
  t.server.KeepAliveTimeout = 60000;  // outlasts the wait for spare threads to leave
  const int port = t.Start();
  for (int i = 0; i < 4; ++i) Exchange(port, "GET /a HTTP/1.1\r\nConnection: close\r\n\r\n");
  const size_t before = ThreadCount();
  std::vector<std::unique_ptr<LoopbackClient>> idle;
  for (size_t i = 0; i < kIdle; ++i) {
    idle.push_back(std::make_unique<LoopbackClient>(port));
    // Half of them wait for their next request, half for their first.
    if (i % 2 == 1) continue;
    idle.back()->Send("GET /a HTTP/1.1\r\n\r\n");
    ASSERT_EQ(ReadAnswers(*idle.back(), 1).size(), 1u);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (t.server.ConnectionCount() < kIdle && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(t.server.ConnectionCount(), kIdle);
  // On a busy machine the accept burst may start spare threads; they leave once idle, while
  // a thread held by a waiting connection would stay.
  const size_t bound = before + 2 * std::thread::hardware_concurrency() + 16;
  const auto settled = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ThreadCount() >= bound && std::chrono::steady_clock::now() < settled)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LT(ThreadCount(), bound);
  // A waiting connection is served as soon as its request comes.
  idle[0]->Send("GET /b HTTP/1.1\r\n\r\n");
  const std::vector<Answer> answers = ReadAnswers(*idle[0], 1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].body, "ok /b ");
}

}  // namespace
}  // namespace morlak::test_support
