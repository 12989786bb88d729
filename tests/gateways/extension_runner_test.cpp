// Extension libraries through a real server: the control block, server variables,
// support requests, failures and the library cache, with the test libraries built beside
// the tests.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/core_fixture.h"
#include "support/http_fetch.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

std::string TestLibrary(const std::string& name) {
  return std::string(MORLAK_BINARY_DIR) + "/extension_test_libraries/" + name + ".dll";
}

// A server that runs libraries under /scripts/ with the probe library in place.
struct ExtensionServer : CoreFixture {
  explicit ExtensionServer(const std::string& keepAlive = "keepalive=0")
      : CoreFixture({"enablecgiapplications=0", "enableisapilibraries=1", "isapialias=/scripts/",
                     "adminemail=admin@test", keepAlive}) {
    Install("probe", "scripts/probe.dll");
    Start();
  }
  void Install(const std::string& library, const std::string& asName) {
    data.MakeFolder("http/public/" + std::filesystem::path(asName).parent_path().string());
    std::filesystem::copy_file(TestLibrary(library), Home() + asName);
  }
  HttpReply Call(const std::string& target, const std::string& headers = "") {
    return Get(Port(), "/scripts/probe.dll" + target, headers);
  }
};

TEST(ExtensionRunner, ControlBlockAndServerVariables) {
  ExtensionServer server;
  EXPECT_EQ(server.Call("/echo?x=1").body,
            "method=GET|query=x=1|total=0|avail=0|data=(none)|type=|size=1"
            "|log=DEFAULT LOG DATA|translated=" +
                server.Home() + "scripts/probe.dll/echo");
  const HttpReply post = Fetch(server.Port(),
                               "POST /scripts/probe.dll/echo HTTP/1.1\r\nHost: h\r\n"
                               "Content-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello");
  EXPECT_EQ(post.body.substr(0, post.body.find("|size")),
            "method=POST|query=(none)|total=5|avail=5|data=hello|type=text/plain");

  const std::string port = std::to_string(server.Port());
  const struct {
    std::string name, headers, expected;
  } cases[] = {
      {"server_port", "", "1," + std::to_string(port.size() + 1) + ",-," + port},
      {"HTTP_X_CUSTOM", "X-CUSTOM: abc\r\n", "1,4,-,abc"},
      {"HTTP_X_DASHED_NAME", "X-Dashed-Name: d\r\n", "1,2,-,d"},
      {"SCRIPT_NAME", "", "1,19,-,/scripts/probe.dll"},
      {"SERVER_ADMIN", "", "1,11,-,admin@test"},
      {"AUTH_TYPE", "", "1,6,-,Basic"},
      {"AUTH_PASS", "", "1,1,-,"},  // known names answer true even when empty
      {"NO_SUCH_THING", "", "0,0,-"},
      {"PATH_INFO", "", "1,5,-,/var"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(server.Call("/var?" + c.name, c.headers).body, c.expected);
  }
  // The session's variables as the library replaced them.
  EXPECT_EQ(server.Call("/session").body, "1,9,-,a=1\r\nb=2");
  EXPECT_TRUE(server.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> exec ISAPI \"" + server.Home() +
                       "scripts/probe.dll\", action=\"/echo\", params=\"x=1\\r\\n\""));
}

TEST(ExtensionRunner, HeadersRedirectsAndPendingRequests) {
  ExtensionServer server;
  // A Location line gives 302 whatever status the block holds; other lines are dropped.
  const HttpReply header = server.Call("/header");
  EXPECT_EQ(header.status, 302);
  EXPECT_EQ(header.Header("Location"), "/moved");
  EXPECT_EQ(header.Header("Content-Type"), "text/plain");
  EXPECT_NE(header.headerBlock.find("Set-Cookie: k=v; path=/p"), std::string::npos);
  EXPECT_EQ(header.Header("X-Other"), "");
  EXPECT_EQ(header.body, "body");

  const HttpReply extended = server.Call("/headerex");
  EXPECT_EQ(extended.headerBlock.substr(0, extended.headerBlock.find("\r\n")),
            "HTTP/1.1 404 Gone away");
  EXPECT_EQ(extended.body, "gone");

  const HttpReply redirect = server.Call("/redirect");
  EXPECT_EQ(redirect.status, 302);
  EXPECT_EQ(redirect.Header("Location"), "/target");

  // Completed from another thread after the entry point has returned.
  const HttpReply pending = server.Call("/pending");
  EXPECT_EQ(pending.status, 200);
  EXPECT_EQ(pending.body, "late");

  server.data.Write("http/public/data.txt", "FILE");
  EXPECT_EQ(server.Call("/transmit").body, "head:FILE:tail");
  EXPECT_EQ(server.Call("/map").body, server.Home() + "sub/file.txt|" + server.Home() + "other");
  EXPECT_EQ(Exchange(server.Port(), "GET /scripts/probe.dll/close HTTP/1.1\r\nHost: h\r\n\r\n"),
            "");
}

TEST(ExtensionRunner, ConnectionStaysOpenOnlyWhenTheLibraryAsks) {
  ExtensionServer server("keepalive=1");
  for (const auto& [action, keeps] : {std::pair{"/keep", true}, std::pair{"/counter", false}}) {
    LoopbackClient client(server.Port());
    client.Send(std::string("GET /scripts/probe.dll") + action + " HTTP/1.1\r\nHost: h\r\n\r\n");
    const std::string answer = client.ReadSome(5000);
    EXPECT_EQ(answer.find("\r\nConnection: keep-alive\r\n") != std::string::npos, keeps) << answer;
    EXPECT_EQ(client.ClosedByServer(1000), !keeps) << action;
  }
}

TEST(ExtensionRunner, FailuresGetTheirAnswersAndTheServerGoesOn) {
  ExtensionServer server;
  server.Install("no_entry_point", "scripts/noentry.dll");
  server.Install("version_refused", "scripts/refused.dll");
  server.data.Write("http/public/scripts/text.dll", "not a library");

  for (const char* action : {"/throw", "/fail"}) {
    const HttpReply reply = server.Call(action);
    EXPECT_EQ(reply.status, 500) << action;
    EXPECT_EQ(reply.body, "partial") << action;
  }
  const HttpReply noEntry = Get(server.Port(), "/scripts/noentry.dll");
  EXPECT_EQ(noEntry.status, 500);
  EXPECT_EQ(noEntry.body, "Internal server error. HttpExtensionProc procedure not assigned");
  const HttpReply refused = Get(server.Port(), "/scripts/refused.dll");
  EXPECT_EQ(refused.status, 500);
  EXPECT_EQ(refused.body, "");

  for (const std::string name : {"missing.dll", "text.dll"}) {
    const HttpReply reply = Get(server.Port(), "/scripts/" + name + "/x");
    EXPECT_EQ(reply.headerBlock.substr(0, reply.headerBlock.find("\r\n")),
              "HTTP/1.1 404 <H1>" + server.Home() + "scripts/" + name + " not found</H1>");
    EXPECT_TRUE(server.front.HasPart("- extension library " + server.Home() + "scripts/" + name +
                                     " not loaded: "));
  }
  // A line break in the library's name cannot end the status line: such a path is refused
  // before any file name is made of it.
  const HttpReply injected = Get(server.Port(), "/scripts/a%0d%0aX-Evil:%201.dll");
  EXPECT_EQ(injected.raw, "");

  // Path information never leads out of the document folder.
  server.data.Write("secret.txt", "outside");
  const HttpReply escape = server.Call("/../../../secret.txt");
  EXPECT_EQ(escape.status, 403);
  EXPECT_EQ(escape.raw.find("outside"), std::string::npos);

  // Every bad argument gets its refusal, and the header text without line ends applies.
  const HttpReply bad = server.Call("/bad");
  EXPECT_EQ(bad.status, 200);
  EXPECT_EQ(bad.Header("Content-Type"), "text/plain");
  EXPECT_EQ(bad.raw.find("evil"), std::string::npos);
  // A date that cannot be read fails the call; the lines before it stay applied.
  EXPECT_EQ(bad.Header("Pragma"), "no-cache");
  EXPECT_NE(bad.Header("Last-Modified").find("Jan 2026"), std::string::npos);
  EXPECT_EQ(
      bad.body,
      "long=0,0,-\nzero=0,4,ERANGE\nnull=0,4,ERANGE\nexact=1,4,-,GET\n"
      "map=0,ERANGE,needed\nredirect=0\nheader=1\nbaddate=0\nunknown=0\nwritenull=0,0\nstray=0\n");

  // A pending request whose client leaves is given up; the server goes on and stops.
  {
    LoopbackClient client(server.Port());
    client.Send("GET /scripts/probe.dll/pending-forever HTTP/1.1\r\nHost: h\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(server.Call("/echo").status, 200);
}

// The conn_ids library answers how many of its calls with a ConnID got through; "late"
// is -1 until its thread has called.
struct ConnIdServer : ExtensionServer {
  ConnIdServer() { Install("conn_ids", "scripts/ids.dll"); }
  std::string Call(const std::string& action) {
    return Get(Port(), "/scripts/ids.dll" + action).body;
  }
};

TEST(ExtensionRunner, ConnIdOfAnEndedRequestIsRefused) {
  ConnIdServer server;
  server.Call("/keep?first=1");
  EXPECT_EQ(server.Call("/ended?second=2"), "0");
}

TEST(ExtensionRunner, MadeUpConnIdIsRefused) {
  EXPECT_EQ(ConnIdServer().Call("/unknown"), "0");
}

TEST(ExtensionRunner, LibraryThreadCallingAfterTheAnswerIsRefused) {
  ConnIdServer server;
  std::string late = server.Call("/late");
  for (int i = 0; i < 100 && late == "-1"; ++i) late = server.Call("/late-result");
  EXPECT_EQ(late, "0");
}

TEST(ExtensionRunner, HalfClosedClientStillGetsItsPendingAnswer) {
  ConnIdServer server;
  LoopbackClient client(server.Port());
  client.Send("GET /scripts/ids.dll/slow HTTP/1.1\r\nHost: h\r\n\r\n");
  client.ShutdownSend();
  const std::string answer = client.ReadAll();
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n") && answer.ends_with("\r\n\r\nslow"))
      << answer;
}

TEST(ExtensionRunner, CachedLibrariesStayLoadedAndAnswerForTheirFileName) {
  ExtensionServer server;
  // Another file of the same name in another folder: the first one loaded answers.
  server.Install("no_entry_point", "scripts/b/PROBE.dll");
  EXPECT_EQ(server.Call("/counter").body, "1");
  EXPECT_EQ(Get(server.Port(), "/scripts/b/PROBE.dll/other").body, "probe/other");
  EXPECT_EQ(server.Call("/counter").body, "2");
}

TEST(ExtensionRunner, DefaultSiteShowsTheSampleLibrary) {
  CoreFixture fixture({"homedirectory=" + std::string(MORLAK_BINARY_DIR) + "/http/public/",
                       "enablecgiapplications=0", "enableisapilibraries=1"});
  fixture.Start();
  const HttpReply reply = Get(fixture.Port(), "/cgi-bin/serverinfo.dll/more?q=1");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("Content-Type"), "text/html");
  for (const char* row : {"<td>GATEWAY_INTERFACE</td><td>ISAPI</td>",
                          "<td>QUERY_STRING</td><td>q=1</td>", "<td>PATH_INFO</td><td>/more</td>"})
    EXPECT_NE(reply.body.find(row), std::string::npos) << row;
}

}  // namespace
}  // namespace morlak::test_support
