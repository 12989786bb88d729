// CGI programs and PHP pages run by a real core on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "platform/host_names.h"
#include "platform/text.h"
#include "support/core_fixture.h"
#include "support/http_fetch.h"
#include "support/process_state.h"

namespace morlak::test_support {
namespace {

const char kTerminatedBody[] = "<html><body><h1><center>Process was terminated.</body></html>";

// A shell program below cgi-bin/ of the fixture's home folder.
void AddProgram(CoreFixture& fixture, const std::string& name, const std::string& body) {
  fixture.data.WriteProgram("http/public/cgi-bin/" + name, "#!/bin/sh\n" + body + "\n");
}

std::string Post(const std::string& target, const std::string& body) {
  return "POST " + target +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(CgiTest, ProgramOutputBecomesTheAnswer) {
  CoreFixture fixture;
  // Its framing lines would contradict the server's own.
  AddProgram(fixture, "notfound",
             "printf 'Status: 404 Not Found\\r\\nContent-Type: text/plain\\r\\nConnection: "
             "keep-alive\\r\\nTransfer-Encoding: chunked\\r\\nContent-Length: 2\\r\\n\\r\\ngone'");
  AddProgram(fixture, "moved", "printf 'Location: /elsewhere\\r\\nStatus: 200\\r\\n\\r\\n'");
  AddProgram(fixture, "bare", "printf 'no blank line here'");
  AddProgram(fixture, "unix", "printf 'Content-Type: text/plain\\nX-Unix: 1\\n\\nbody\\n'");
  AddProgram(fixture, "broken", "printf 'garbage line\\r\\nX-Ok: 1\\r\\n\\r\\nbody'");
  AddProgram(fixture, "silent", "exit 0");
  AddProgram(fixture, "crash", "echo 'Content-Type: text/plain'; echo; kill -SEGV $$");
  AddProgram(fixture, "deaf",
             "printf 'Content-Type: text/plain\\r\\n\\r\\n'; head -c 1048576 /dev/zero");
  fixture.data.Write("http/public/cgi-bin/notrunnable", "#!/bin/sh\necho hi\n");
  fixture.data.Write("http/public/plain.txt", "still serving");
  fixture.Start();

  struct Case {
    std::string request;
    int status;
    std::string contentType;
    std::vector<std::string> headerLines;  // present in the answer's header block
    std::string body;
  };
  const Case cases[] = {
      {"GET /cgi-bin/notfound HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       404,
       "text/plain",
       {"Status: 404 Not Found", "Content-Type: text/plain"},
       "gone"},
      {"GET /cgi-bin/moved HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       302,
       "",
       {"Location: /elsewhere"},
       ""},
      {"GET /cgi-bin/bare HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       200,
       "text/html",
       {},
       "no blank line here"},
      {"GET /cgi-bin/unix HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       200,
       "text/plain",
       {"X-Unix: 1"},
       "body\n"},
      {"GET /cgi-bin/broken HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 200, "", {"X-Ok: 1"}, "body"},
      {"GET /cgi-bin/silent HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 200, "text/html", {}, ""},
      {"GET /cgi-bin/crash HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       500,
       "text/html",
       {},
       kTerminatedBody},
      {"GET /cgi-bin/missing HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       500,
       "text/html",
       {},
       kTerminatedBody},
      {"GET /cgi-bin/notrunnable HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       500,
       "text/html",
       {},
       kTerminatedBody},
      // Never reads the 4 MiB it is sent and writes more than a pipe holds.
      {Post("/cgi-bin/deaf", "a=" + std::string(4 << 20, 'x')),
       200,
       "text/plain",
       {},
       std::string(1 << 20, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.substr(0, 40));
    const HttpReply reply = Fetch(fixture.Port(), c.request);
    EXPECT_EQ(reply.status, c.status) << reply.headerBlock;
    EXPECT_EQ(reply.Header("Content-Type"), c.contentType);
    for (const std::string& line : c.headerLines)
      EXPECT_NE(reply.headerBlock.find("\r\n" + line + "\r\n"), std::string::npos) << line;
    EXPECT_EQ(reply.headerBlock.find("garbage"), std::string::npos);
    for (const char* framing : {"Transfer-Encoding", "keep-alive", "Content-Length: 2"})
      EXPECT_EQ(reply.headerBlock.find(framing), std::string::npos) << framing;
    EXPECT_TRUE(reply.body == c.body) << reply.body.substr(0, 200);
  }
  EXPECT_EQ(Get(fixture.Port(), "/plain.txt").status, 200);
  EXPECT_TRUE(fixture.front.HasPart("> CGI program not started (No such file or directory)"));
  EXPECT_TRUE(fixture.front.HasPart("> CGI program ended by signal 11"));
}

TEST(CgiTest, EnvironmentBlockHoldsItsEntriesInOrder) {
  CoreFixture fixture;
  // /usr/bin/env prints exactly the environment it was given, in its order.
  const std::string program = fixture.data.MakeFolder("http/public/cgi-bin/test.EXE") + "more";
  std::filesystem::copy_file("/usr/bin/env", program);
  fixture.Start();
  const std::string port = std::to_string(fixture.Port());
  const HttpReply reply = Fetch(fixture.Port(),
                                "GET /cgi-bin/test.EXE/more?a=1&b=2 HTTP/1.1\r\n"
                                "Host: 127.0.0.1:" +
                                    port +
                                    "\r\n"
                                    "Cache-Control: no-cache\r\nAccept-Encoding: gzip\r\n"
                                    "If-Modified-Since: yesterday\r\nCookie: c=1\r\n"
                                    "User-Agent: tester\r\nContent-Type: text/x-test\r\n\r\n",
                                "127.0.0.2");
  ASSERT_EQ(reply.status, 200) << reply.raw;

  const std::string home = fixture.Home();
  const char* path = std::getenv("PATH");
  const std::vector<std::string> expected = {
      "SERVER_SOFTWARE=" + fixture.core->IdHTTPServer1.ServerSoftware,
      "HTTP_CONTENT_TYPE=text/x-test",
      "CONTENT_TYPE=text/x-test",
      "URL=/cgi-bin/test.EXE",
      "PHPRC=/etc/php/",
      "REDIRECT_STATUS=200",
      "HTTP_REDIRECT_STATUS=200",
      "REDIRECT_URL=/cgi-bin/test.EXE/more",
      "CONTENT_LENGTH=",
      "HTTP_CONTENT_LENGTH=",
      "SERVER_NAME=127.0.0.1:" + port,
      "SERVER_PROTOCOL=HTTP/1.1",
      "SERVER_PORT=" + port,
      "GATEWAY_INTERFACE=CGI/1.1",
      "REQUEST_METHOD=GET",
      "SCRIPT_NAME=/cgi-bin/test.EXE",
      "QUERY_STRING=a=1&b=2",
      "REMOTE_ADDR=127.0.0.2",
      // No name for this address: the address stands in.
      "REMOTE_HOST=127.0.0.2",
      "SystemRoot=" + std::string(std::getenv("SystemRoot") ? std::getenv("SystemRoot") : ""),
      "COMSPEC=" + std::string(std::getenv("COMSPEC") ? std::getenv("COMSPEC") : ""),
      "WINDIR=" + std::string(std::getenv("WINDIR") ? std::getenv("WINDIR") : ""),
      "PATH=" + std::string(path ? path : "").substr(0, 4096),
      "PATH_INFO=/cgi-bin/test.EXE/more",
      "REQUEST_URI=/cgi-bin/test.EXE/more",
      "PATH_TRANSLATED=" + home + "cgi-bin/test.EXE/more",
      "SCRIPT_FILENAME=" + program,
      "HTTP_DATE=",
      "HTTP_CACHE_CONTROL=no-cache",
      "HTTP_ACCEPT=",
      "HTTP_FROM=",
      "HTTP_HOST=127.0.0.1:" + port,
      "HTTP_IF_MODIFIED_SINCE=yesterday",
      "HTTP_REFERER=",
      "HTTP_CONTENT_ENCODING=",
      "HTTP_CONTENT_VERSION=",
      "HTTP_DERIVED_FROM=",
      "HTTP_EXPIRES=",
      "HTTP_TITLE=",
      "HTTP_CONNECTION=",
      "HTTP_AUTHORIZATION=",
      "HTTP_ACCEPT_LANGUAGE=",
      "HTTP_ACCEPT_ENCODING=gzip",
      "HTTP_USER_AGENT=tester",
      "HTTP_COOKIE=c=1",
      "SERVER_ADDR=127.0.0.1",
      "DOCUMENT_ROOT=" + home,
      "SERVER_ADMIN=<webmaster@localhost>",
  };
  const std::vector<std::string> printed = SplitLines(reply.body);
  ASSERT_EQ(printed.size(), expected.size()) << reply.body;
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(printed[i], expected[i]) << "entry " << i;
}

TEST(CgiTest, ParametersReachTheProgramAndNothingIsInterpreted) {
  CoreFixture fixture;
  const std::string report =
      "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
      "echo \"Q=${QUERY_STRING-unset}\"\necho \"F=$SCRIPT_FILENAME\"\ncat";
  AddProgram(fixture, "report", report);
  AddProgram(fixture, "with blank/report", report);
  fixture.Start();
  const std::string home = fixture.Home();

  const HttpReply get = Get(fixture.Port(), "/cgi-bin/report?a=1");
  EXPECT_EQ(get.body, "Q=a=1\nF=" + home + "cgi-bin/report\na=1");
  const HttpReply post = Fetch(fixture.Port(), Post("/cgi-bin/report", "a=2"));
  EXPECT_EQ(post.body, "Q=unset\nF=" + home + "cgi-bin/report\na=2");
  const HttpReply blank = Get(fixture.Port(), "/cgi-bin/with%20blank/report");
  EXPECT_EQ(blank.body, "Q=\nF=" + home + "cgi-bin/with blank/report\n");

  const std::string mark = fixture.data.File("ran");
  const std::string hostile =
      "x=';touch%20" + mark + "1;$(touch%20" + mark + "2)`touch%20" + mark + "3`\"%00";
  const HttpReply quoted = Get(fixture.Port(), "/cgi-bin/report?" + hostile);
  EXPECT_EQ(quoted.body, "Q=" + hostile + "\nF=" + home + "cgi-bin/report\n" + hostile);
  for (const char* n : {"1", "2", "3"}) EXPECT_FALSE(std::filesystem::exists(mark + n));

  // Out of the document folder through the alias.
  fixture.data.WriteProgram("outside", "#!/bin/sh\ntouch " + mark + "4\n");
  const HttpReply climb = Get(fixture.Port(), "/cgi-bin/../../outside");
  EXPECT_EQ(climb.status, 403);
  EXPECT_FALSE(std::filesystem::exists(mark + "4"));
}

TEST(CgiTest, ProgramPastItsTimeIsKilledWithEverythingItStarted) {
  CoreFixture fixture;
  const std::string pids = fixture.data.File("pids");
  // A child in the program's group, and one in a session of its own whose parent is gone.
  AddProgram(fixture, "hang",
             "echo $$ >" + pids + "\nsleep 60 &\necho $! >>" + pids +
                 "\n(setsid sleep 60 & echo $! >>" + pids + ")\nwait");
  AddProgram(fixture, "flood", "exec yes");
  fixture.Start();

  const auto start = std::chrono::steady_clock::now();
  const HttpReply hang = Get(fixture.Port(), "/cgi-bin/hang");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
  EXPECT_EQ(hang.status, 500);
  EXPECT_EQ(hang.body, kTerminatedBody);
  const std::vector<std::string> started = SplitLines(fixture.data.Read("pids"));
  ASSERT_EQ(started.size(), 3u);
  for (const std::string& pid : started) EXPECT_TRUE(ProcessEnds(std::stoi(pid))) << pid;
  EXPECT_TRUE(fixture.front.HasPart("> CGI program terminated after 5000 ms"));

  // Output without end is cut at 64 MiB.
  const HttpReply flood = Get(fixture.Port(), "/cgi-bin/flood");
  EXPECT_EQ(flood.status, 500);
  EXPECT_EQ(flood.body, kTerminatedBody);
}

TEST(CgiTest, PhpPageRunsThroughPhpCgi) {
  CoreFixture fixture({"defaultfile=index.php;"});
  fixture.data.Write("http/public/two.php", "<?php echo 1+1;");
  fixture.data.Write("http/public/sub/index.php", "<?php echo $_GET['q'] ?? 'none';");
  // Outside the document folder: the compiler must never be pointed at it.
  fixture.data.Write("secret.php", "<?php echo 'leaked';");
  fixture.Start();

  EXPECT_EQ(Get(fixture.Port(), "/two.php").body, "2");
  EXPECT_EQ(Get(fixture.Port(), "/sub/?q=x").body, "x");
  const HttpReply climb = Get(fixture.Port(), "/sub/../../secret.php");
  EXPECT_EQ(climb.status, 403);
  EXPECT_EQ(climb.body.find("leaked"), std::string::npos);
}

// Only CGI with a compiler that is a program runs a PHP page; every other set-up answers
// not found and serves neither the page's source nor the compiler.
TEST(CgiTest, PhpPageIsRunOrNotFoundButNeverServedAsAFile) {
  for (const bool cgi : {true, false}) {
    for (const std::string compiler : {"", "tools.sources/php-cgi", "lib/php.so"}) {
      SCOPED_TRACE(std::to_string(cgi) + " " + compiler);
      CoreFixture fixture({"enablecgiapplications=" + std::to_string(cgi),
                           "phpcompiler=" + (compiler.empty() ? "" : "{data}" + compiler)});
      if (!compiler.empty()) {
        fixture.data.MakeFolder(compiler.substr(0, compiler.find('/')));
        std::filesystem::create_symlink("/usr/bin/php-cgi", fixture.data.File(compiler));
      }
      fixture.data.Write("http/public/page.php", "<?php echo 1+1; // pass=hunter2");
      fixture.Start();
      const bool runs = cgi && compiler == "tools.sources/php-cgi";
      for (const auto& [page, status] : {std::pair<std::string, int>{"/page.php", runs ? 200 : 404},
                                         {"/missing.php", 404},
                                         {"/../../x.php", 403}}) {
        const HttpReply reply = Get(fixture.Port(), page);
        EXPECT_EQ(reply.status, status) << page;
        EXPECT_FALSE(std::regex_search(reply.body, std::regex("hunter2|\x7f"))) << page;
      }
      EXPECT_EQ(fixture.front.HasPart("> PHP is not set up to run " + fixture.Home()), !runs);
      EXPECT_TRUE(fixture.front.HasPart("> unauthorized to " + fixture.Home() + "../../x.php"));
    }
  }
}

}  // namespace
}  // namespace morlak::test_support
