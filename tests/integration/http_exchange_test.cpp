// Requests and answers over a real loopback connection: the exact bytes of answers and
// what the server does with input it cannot serve.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/engine_errors.h"
#include "integration/test_server.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

const char kGet[] = "GET /index.html HTTP/1.1\r\nHost: localhost\r\n\r\n";

TEST(HttpExchange, EmptyAnswerHasNoContentLengthAndNoBody) {
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {};
  const int port = t.Start();
  EXPECT_EQ(Exchange(port, kGet),
            "HTTP/1.1 200 OK\r\n"
            "Connection: close\r\n"
            "Content-Type: text/html\r\n"
            "Server: Morlak test\r\n"
            "\r\n");
}

TEST(HttpExchange, TypicalAnswerHeaderOrder) {
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.CustomHeaders.Add("Date: Sun, 6 Nov 1994 08:49:37 GMT");
    rs.ContentType = "text/plain";
    rs.BodyText = "hello";
    rs.ResponseCookies.Add(TIdServerCookie("k", "v"));
  };
  const int port = t.Start();
  EXPECT_EQ(Exchange(port, kGet),
            "HTTP/1.1 200 OK\r\n"
            "Connection: close\r\n"
            "Content-Type: text/plain\r\n"
            "Content-Length: 5\r\n"
            "Date: Sun, 6 Nov 1994 08:49:37 GMT\r\n"
            "Server: Morlak test\r\n"
            "Set-Cookie: k=v; path=/\r\n"
            "\r\n"
            "hello");
}

TEST(HttpExchange, CustomServerAndLocationLines) {
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.CustomHeaders.Add("Server: replaced in place");
    rs.CustomHeaders.Add("X-Extra: 1");
    // An empty field set by name removes the custom line of that name.
    rs.CustomHeaders.Add("Content-Type: text/custom");
    rs.CustomHeaders.Add("Content-Length: 99");
    rs.Redirect("/elsewhere");
    rs.ContentType.clear();
  };
  const int port = t.Start();
  EXPECT_EQ(Exchange(port, kGet),
            "HTTP/1.1 302 Moved Temporarily\r\n"
            "Connection: close\r\n"
            "Server: Morlak test\r\n"
            "X-Extra: 1\r\n"
            "Location: /elsewhere\r\n"
            "\r\n");
}

TEST(HttpExchange, FileHeadersFollowTheCustomLinesOrTakeThePlaceOfTheirName) {
  const struct {
    std::vector<std::string> custom;
    std::string acceptRanges, eTag, contentRange, headers;
  } cases[] = {
      {{"Date: d"},
       "bytes",
       "\"1-2\"",
       "bytes 0-0/2",
       "Date: d\r\nAccept-Ranges: bytes\r\nETag: \"1-2\"\r\nContent-Range: bytes 0-0/2\r\n"},
      // A set field takes the place of the first custom line of its name; an empty one
      // leaves the line alone.
      {{"ETag: \"old\"", "Accept-Ranges: none", "Etag: \"second\""},
       "",
       "\"1-2\"",
       "",
       "ETag: \"1-2\"\r\nAccept-Ranges: none\r\nEtag: \"second\"\r\n"},
  };
  for (const auto& c : cases) {
    TestServer t;
    t.server.OnCommandGet = [&c](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
      for (const std::string& line : c.custom) rs.CustomHeaders.Add(line);
      rs.AcceptRanges = c.acceptRanges;
      rs.SetETag(c.eTag);
      rs.ContentRange = c.contentRange;
      rs.BodyText = "a";
    };
    const int port = t.Start();
    EXPECT_EQ(Exchange(port, kGet),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
              "Content-Length: 1\r\n" +
                  c.headers + "Server: Morlak test\r\n\r\na");
  }
}

TEST(HttpExchange, HandlerExceptionBecomes500WithTheMessage) {
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {
    throw std::runtime_error("boom");
  };
  const int port = t.Start();
  EXPECT_EQ(Exchange(port, kGet),
            "HTTP/1.1 500 Internal Server Error\r\n"
            "Connection: close\r\n"
            "Content-Type: text/html\r\n"
            "Content-Length: 4\r\n"
            "Server: Morlak test\r\n"
            "\r\n"
            "boom");
}

TEST(HttpExchange, SecondSendHeaderBecomesTheBodyAfterTheFirstHeader) {
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.SendHeader();
    rs.SendHeader();
  };
  const int port = t.Start();
  const std::string answer = Exchange(port, kGet);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(answer.substr(answer.size() - 36), "\r\n\r\nHeader has already been written.");
}

TEST(HttpExchange, SendBodyWithoutBodyWritesTheStatusLine) {
  TestServer t;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& rs) {
    rs.SetStatusCode(204);
    rs.SendBody();
  };
  const int port = t.Start();
  const std::string answer = Exchange(port, kGet);
  EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4),
            "<HTML><BODY><B>204 No Content</B></BODY></HTML>\r\n");
}

TEST(HttpExchange, RequestFieldsReachTheHandler) {
  TIdHTTPRequestInfo seen;
  int peerPort = 0;
  TestServer t;
  t.server.OnCommandGet = [&](TIdPeerThread& th, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo&) {
    seen.RequestLine = rq.RequestLine;
    seen.RequestMethod = rq.RequestMethod;
    seen.ProtocolVersion = rq.ProtocolVersion;
    seen.PeerAddress = rq.PeerAddress;
    seen.DocumentPath = rq.DocumentPath;
    seen.ParamList = rq.ParamList;
    seen.UserAgent = rq.UserAgent;
    seen.HeaderLines = rq.HeaderLines;
    peerPort = th.Connection().PeerPort();
  };
  const int port = t.Start();
  Exchange(port, "get  /a%20b/c.htm?x=1+2 HTTP/1.0\r\nUser-Agent: tester\r\n..dotted: y\r\n\r\n");
  EXPECT_EQ(seen.RequestLine, "get  /a%20b/c.htm?x=1+2 HTTP/1.0");
  EXPECT_EQ(seen.RequestMethod, "GET");
  EXPECT_EQ(seen.ProtocolVersion, "HTTP/1.0");
  EXPECT_EQ(seen.PeerAddress, "127.0.0.1");
  // The second blank after the method stays in the target, which then has no path.
  EXPECT_EQ(seen.DocumentPath, " /a b/c.htm");
  EXPECT_EQ(seen.ParamList.lines, (std::vector<std::string>{"x=1 2"}));
  EXPECT_EQ(seen.UserAgent, "tester");
  EXPECT_EQ(seen.HeaderLines.lines.back(), ".dotted: y");
  EXPECT_GT(peerPort, 0);
}

TEST(HttpExchange, PostBodyByLengthAndUntilTheClientStopsSending) {
  std::mutex m;
  std::vector<std::string> forms;
  TestServer t;
  t.server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    std::lock_guard lock(m);
    forms.push_back(rq.FormText + "|" + rq.ParamText);
    rs.BodyText = rq.ParamList.Value("a");
  };
  const int port = t.Start();
  const std::string answer = Exchange(port,
                                      "POST /f?b=2 HTTP/1.1\r\n"
                                      "Content-Type: application/x-www-form-urlencoded\r\n"
                                      "Content-Length: 3\r\n\r\na=1");
  EXPECT_EQ(answer.substr(answer.size() - 1), "1");

  LoopbackClient chunked(port);
  chunked.Send("POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
  chunked.ShutdownSend();
  EXPECT_NE(chunked.ReadAll().find("HTTP/1.1 200 OK"), std::string::npos);
  std::lock_guard lock(m);
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(forms[0], "a=1|a=1&b=2");
  EXPECT_EQ(forms[1], "3\r\nabc\r\n0\r\n\r\n|3\r\nabc\r\n0\r\n\r\n");
}

TEST(HttpExchange, BodyBeyondTheMemoryLimitClosesWithoutAnswer) {
  TestServer t;
  t.server.MaxRequestBodyInMemory = 10;
  t.server.OnCommandGet = [](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo& rs) {
    rs.BodyText = rq.FormText;
  };
  const int port = t.Start();
  for (const std::string body : {"0123456789", "0123456789x"}) {
    LoopbackClient client(port);
    client.Send("POST / HTTP/1.1\r\n\r\n" + body);
    client.ShutdownSend();
    const std::string answer = client.ReadAll();
    if (body.size() <= 10)
      EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), body);
    else
      EXPECT_EQ(answer, "");
  }
  EXPECT_EQ(Exchange(port, "POST / HTTP/1.1\r\nContent-Length: 11\r\n\r\n0123456789x"), "");
  EXPECT_TRUE(t.WaitIdle());
}

}  // namespace
}  // namespace morlak::test_support
