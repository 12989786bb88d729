// Input the server cannot serve: the connection closes without a byte, the failure reaches
// OnException, no thread is left behind and everyone else is still served.
#include <gtest/gtest.h>

#include <random>

#include "integration/test_server.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

const char kGet[] = "GET / HTTP/1.1\r\n\r\n";

std::string Repeat(char c, size_t n) {
  return std::string(n, c);
}

TEST(BadInput, ClosedWithoutAnswerAndServerGoesOn) {
  const struct {
    const char* name;
    std::string request;
    const char* exception;  // nullptr: none expected
  } cases[] = {
      {"no blank", "GARBAGE\r\n\r\n", "Error in parsing command."},
      {"long request line", "GET /" + Repeat('a', 16384) + " HTTP/1.1\r\n\r\n",
       "Max line length exceeded."},
      {"long header", std::string("GET / HTTP/1.1\r\nX: ") + Repeat('b', 16384) + "\r\n\r\n",
       "Max line length exceeded."},
      {"unknown method", "OPTIONS * HTTP/1.1\r\n\r\n", nullptr},
      {"other scheme", "GET / HTTP/1.1\r\nAuthorization: Digest x=1\r\n\r\n",
       "Unsupported authorization scheme."},
      {"uneven base64", "GET / HTTP/1.1\r\nAuthorization: Basic abcde\r\n\r\n",
       "Uneven size in DecodeToStream."},
      {"foreign base64", "GET / HTTP/1.1\r\nAuthorization: Basic ab!d\r\n\r\n",
       "Invalid character in DecodeToStream."},
      {"closed mid-line", "GET / HTTP/1.1", "Connection Closed Gracefully."},
      {"body beyond memory", "POST / HTTP/1.1\r\nContent-Length: 1000000000000\r\n\r\n",
       "Request body too large."},
      {"binary", std::string("\0\xff\r\n\r\n", 6), "Error in parsing command."},
      // What is checked must be what is opened: control characters in the target never
      // reach a path.
      {"raw NUL in target", std::string("GET /s.php\0.txt HTTP/1.1\r\n\r\n", 29),
       "Control character in request target."},
      {"encoded line break in path", "GET /nothere%0d%0a01/01/99 HTTP/1.1\r\n\r\n",
       "Control character in request target."},
      {"raw tab in query", "GET /?a=\tb HTTP/1.1\r\n\r\n", "Control character in request target."},
  };
  int handled = 0;
  TestServer t;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    ++handled;
    rs.BodyText = "ok";
  };
  const int port = t.Start();
  for (const auto& c : cases) {
    LoopbackClient client(port);
    client.Send(c.request);
    client.ShutdownSend();
    EXPECT_TRUE(client.ClosedByServer()) << c.name;
    ASSERT_TRUE(t.WaitIdle()) << c.name;
    const std::vector<std::string> exceptions = t.TakeExceptions();
    if (c.exception)
      EXPECT_EQ(exceptions, std::vector<std::string>{c.exception}) << c.name;
    else
      EXPECT_TRUE(exceptions.empty()) << c.name;
    EXPECT_NE(Exchange(port, kGet).find("\r\n\r\nok"), std::string::npos) << c.name;
  }
  EXPECT_EQ(handled, static_cast<int>(std::size(cases)));
}

TEST(BadInput, LineLimitCountsTheCarriageReturn) {
  std::string seenPath;
  TestServer t;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo&) {
    seenPath = rq.DocumentPath;
  };
  const int port = t.Start();
  // "GET /aaa... X" is exactly 16384 bytes.
  const std::string line = "GET /" + Repeat('a', 16384 - 7) + " X";
  ASSERT_EQ(line.size(), 16384u);
  EXPECT_NE(Exchange(port, line + "\n\r\n").find("HTTP/1.1 200 OK"), std::string::npos);
  EXPECT_EQ(seenPath.size(), 16384u - 6);
  EXPECT_EQ(Exchange(port, line + "\r\n\r\n"), "");
}

TEST(BadInput, OptionsGetsNothingAndReachesOnCommandOther) {
  std::string other;
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {};
  t.server.OnCommandOther = [&](TIdPeerThread&, const std::string& command,
                                const std::string& target, const std::string& version) {
    other = command + "|" + target + "|" + version;
  };
  const int port = t.Start();
  EXPECT_EQ(Exchange(port, "options /x HTTP/1.1\r\n\r\n"), "");
  ASSERT_TRUE(t.WaitIdle());
  EXPECT_EQ(other, "OPTIONS|/x|HTTP/1.1");
}

TEST(BadInput, RefusalInOnConnectSkipsEverythingElse) {
  std::atomic<int> commands{0}, disconnects{0};
  TestServer t;
  t.server.OnConnect = [](TIdPeerThread& th) {
    throw std::runtime_error("IP " + th.Connection().PeerAddress() + " is on banned IPs list!");
  };
  t.server.OnDisconnect = [&](TIdPeerThread&) { ++disconnects; };
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {
    ++commands;
  };
  const int port = t.Start();
  EXPECT_EQ(Exchange(port, kGet), "");
  ASSERT_TRUE(t.WaitIdle());
  EXPECT_EQ(commands, 0);
  EXPECT_EQ(disconnects, 0);
  EXPECT_TRUE(t.TakeExceptions().empty());
}

TEST(BadInput, PeerResetDuringALargeAnswerLeavesTheServerServing) {
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    rs.BodyText = rq.DocumentPath == "/big" ? std::string(8 << 20, 'z') : "ok";
  };
  const int port = t.Start();
  for (int i = 0; i < 5; ++i) {
    LoopbackClient client(port);
    client.Send("GET /big HTTP/1.1\r\n\r\n");
    client.ReadSome(2000);
  }  // each client closes with most of the answer unread
  ASSERT_TRUE(t.WaitIdle());
  EXPECT_NE(Exchange(port, kGet).find("\r\n\r\nok"), std::string::npos);
}

TEST(BadInput, MutatedRequestsNeverStopTheServer) {
  const std::string valid =
      "POST /a%20b/c.htm?x=1&y=%41 HTTP/1.1\r\nHost: h\r\nCookie: IDHTTPSESSIONID=abc; a=b\r\n"
      "Authorization: Basic dXNlcjpwYXNz\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Range: bytes=1-2\r\nExpires: 99999\r\nContent-Length: 5\r\n\r\nq=1&r";
  const std::string alphabet = " \r\n:%=&?;/\\#+-0123456789abcXYZ\t\x00\xff";
  std::mt19937 random(20240601);
  TestServer t;
  t.server.SetSessionState(true);
  t.server.AutoStartSession = true;
  t.server.SessionTimeOut = 60000;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    rs.BodyText = rq.DocumentPath + "|" + rq.ParamText;
  };
  const int port = t.Start();
  for (int i = 0; i < 300; ++i) {
    std::string request = valid;
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % request.size();
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0:
          request[at] = c;
          break;
        case 1:
          request.insert(at, 1, c);
          break;
        default:
          request.erase(at, 1 + random() % 20);
          break;
      }
      if (request.empty()) request.assign(1, 'x');
    }
    LoopbackClient client(port);
    client.Send(request);
    client.ShutdownSend();
    client.ReadAll(5000);
    ASSERT_FALSE(client.timedOut) << i;
  }
  ASSERT_TRUE(t.WaitIdle());
  EXPECT_NE(Exchange(port, kGet).find("HTTP/1.1 200 OK"), std::string::npos);
}

}  // namespace
}  // namespace morlak::test_support
