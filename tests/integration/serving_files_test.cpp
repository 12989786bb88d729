// The request dispatcher and file responder through a real core on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "support/core_fixture.h"
#include "support/http_fetch.h"
#include "support/unreadable_file.h"

namespace morlak::test_support {
namespace {

const char kNotFoundBody[] = "<html><body><b>404</b> File not found</body></html>";
const char kDeniedBody[] = "<html><body><b>403</b> Access Denied</body></html>";

// Lines joined with CR LF after each, as pages are sent after tag replacement.
std::string Page(const std::string& text) {
  return text + "\r\n";
}

TEST(ServingFiles, DirectoryRequestsGetOnlyTheFirstDefaultFile) {
  CoreFixture only({"defaultfile=index.html;"});
  only.data.Write("http/public/index.html", "home page");
  only.data.Write("http/public/sub/index.html", "sub page");
  only.Start();
  EXPECT_EQ(Get(only.Port(), "/").body, Page("home page"));
  // A folder named without its slash gets its default file directly, no redirect.
  const HttpReply sub = Get(only.Port(), "/sub");
  EXPECT_EQ(sub.status, 200);
  EXPECT_EQ(sub.body, Page("sub page"));

  CoreFixture second({"defaultfile=index.html;index.htm;"});
  second.data.Write("http/public/index.htm", "not looked for");
  second.Start();
  const HttpReply reply = Get(second.Port(), "/");
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.body, kNotFoundBody);
  EXPECT_TRUE(second.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> file not found " + second.Home() + "index.html"));
}

TEST(ServingFiles, AnyTwoDotsUnderTheDocumentFolderAreRefused) {
  CoreFixture fixture;
  fixture.data.Write("http/public/a..b.html", "two dots");
  fixture.data.Write("secret.txt", "outside the web root");
  fixture.Start();
  for (const char* target : {"/a..b.html", "/../secret.txt", "/%2e%2e/secret.txt",
                             "/..%5csecret.txt", "/x/..\\..\\secret.txt", "/%2E%2E%2Fsecret.txt"}) {
    SCOPED_TRACE(target);
    const HttpReply reply = Get(fixture.Port(), target);
    EXPECT_EQ(reply.status, 403);
    EXPECT_EQ(reply.body, kDeniedBody);
    EXPECT_EQ(reply.raw.find("outside the web root"), std::string::npos);
  }
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> unauthorized to " + fixture.Home() + "a..b.html"));
}

TEST(ServingFiles, DoubledSeparatorInTheHomeSettingDoesNotLetTwoDotsThrough) {
  CoreFixture fixture({"homedirectory={data}http//public/"});
  fixture.data.Write("secret.txt", "outside the web root");
  fixture.Start();
  const HttpReply reply = Get(fixture.Port(), "/../../secret.txt");
  EXPECT_EQ(reply.status, 403);
  EXPECT_EQ(reply.raw.find("outside the web root"), std::string::npos);
}

TEST(ServingFiles, UnreadableFileIsLoggedAsAFailureAndTheServerGoesOn) {
  CoreFixture fixture;
  MakeUnreadableFile(fixture.Home() + "locked.bin");
  MakeUnreadableFile(fixture.Home() + "locked.html");
  fixture.data.Write("http/public/ok.html", "fine");
  fixture.Start();
  // Not an empty 200 answer, which a client would take for an empty file.
  for (const char* target : {"/locked.bin", "/locked.html"}) {
    const HttpReply reply = Get(fixture.Port(), target);
    EXPECT_EQ(reply.status, 404) << target;
    EXPECT_EQ(reply.body, kNotFoundBody) << target;
  }
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> failed to serve " + fixture.Home() + "locked.bin (0b, )"));
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1",
      ", Anonymous> failed to serve replaced " + fixture.Home() + "locked.html (0b; text/html)"));
  EXPECT_EQ(Get(fixture.Port(), "/ok.html").body, Page("fine"));
}

TEST(ServingFiles, NamedPipeIsRefusedWithoutHangingTheThread) {
  CoreFixture fixture;
  ASSERT_EQ(::mkfifo((fixture.Home() + "pipe.bin").c_str(), 0644), 0);
  fixture.Start();
  const HttpReply reply = Get(fixture.Port(), "/pipe.bin");
  EXPECT_TRUE(reply.connected);
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.body, kNotFoundBody);
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> failed to serve " + fixture.Home() + "pipe.bin (0b, )"));
}

TEST(ServingFiles, WithoutASessionTheRequestGetsTheFailurePage) {
  CoreFixture fixture({"sessiontimeout=0"});
  fixture.data.Write("http/public/index.html", "home page");
  fixture.Start();
  const HttpReply reply = Get(fixture.Port(), "/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "<html><body><b>Failed to Create Session</b></body></html>");
  EXPECT_EQ(reply.Header("Set-Cookie"), "");
  EXPECT_TRUE(fixture.front.HasRequestLine("", "> failed to create session"));
}

TEST(ServingFiles, TemplatePageIsServedWithStatus200) {
  CoreFixture fixture;
  fixture.data.Write("http/templates/unauthorized.html", "custom refusal for ||IP");
  fixture.Start();
  const HttpReply reply = Get(fixture.Port(), "/a..b.html");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, Page("custom refusal for 127.0.0.1"));
}

TEST(ServingFiles, BannedAddressIsCountedAndClosedWithoutAByte) {
  CoreFixture fixture({"banned=127.0.0.2;"});
  fixture.data.Write("http/public/index.html", "hello");
  fixture.Start();
  const HttpReply banned = Fetch(fixture.Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n", "127.0.0.2");
  EXPECT_TRUE(banned.connected);
  EXPECT_EQ(banned.raw, "");
  EXPECT_TRUE(fixture.front.Has("- 127.0.0.2 connection refused (banned)"));
  EXPECT_EQ(Get(fixture.Port(), "/").status, 200);
  EXPECT_EQ(fixture.core->Stats().GetConnections(), 2);
}

TEST(ServingFiles, HeadAnswersLengthWithoutBodyAndLogsToTheWindowOnly) {
  CoreFixture fixture({"logtofile=1", "logfilename={data}weblog.txt"});
  const std::string logPath = fixture.data.Path() + "weblog.txt";
  fixture.data.Write("http/public/data.bin", std::string(1234, 'x'));
  fixture.Start();

  const HttpReply head = Get(fixture.Port(), "/data.bin", "", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), "1234");
  EXPECT_EQ(head.body, "");
  EXPECT_NE(head.Header("Date").find(" GMT"), std::string::npos);
  const std::string headLine = ", Anonymous> head of " + fixture.Home() + "data.bin (1234b, )";
  EXPECT_TRUE(fixture.front.HasRequestLine("127.0.0.1", headLine));

  const HttpReply get = Get(fixture.Port(), "/data.bin");
  EXPECT_EQ(get.body.size(), 1234u);
  const std::string servedLine = ", Anonymous> served " + fixture.Home() + "data.bin (1234b, )";
  EXPECT_TRUE(fixture.front.HasRequestLine("127.0.0.1", servedLine));

  const std::string logFile = ReadWholeFile(logPath).value_or("");
  EXPECT_NE(logFile.find(servedLine), std::string::npos);
  EXPECT_EQ(logFile.find("head of"), std::string::npos);
}

TEST(ServingFiles, LogExtensionsSuppressTheServedLine) {
  CoreFixture fixture({"logextensions=.TXT;"});
  fixture.data.Write("http/public/a.txt", "quiet");
  fixture.data.Write("http/public/b.css", "loud");
  fixture.Start();
  EXPECT_EQ(Get(fixture.Port(), "/a.txt").body, Page("quiet"));
  EXPECT_EQ(Get(fixture.Port(), "/b.css").body, Page("loud"));
  EXPECT_FALSE(fixture.front.HasPart("a.txt"));
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> replaced " + fixture.Home() + "b.css (6b; text/css)"));
}

TEST(ServingFiles, LoginAndLogoutAnswerTheirPages) {
  CoreFixture fixture;
  const std::string home = fixture.data.MakeFolder("bobhome/");
  fixture.data.Write("bobhome/index.html", "bob's page");
  fixture.data.Write("http/public/index.html", "public page");
  fixture.data.Write(
      "httpmembers.lst",
      "[httpmembers]\r\nhttpmembers=1\r\n[httpmember0]\r\nuser=bob\r\npass=secret\r\n"
      "home=" +
          home + "\r\naddr=\r\nlasttime=0\r\nlastdoc=\r\n");
  fixture.Start();

  const HttpReply login = Get(fixture.Port(), "/?action=LOGIN&user=bob&pass=secret");
  EXPECT_EQ(login.status, 200);
  EXPECT_EQ(login.body, "<html><body><b>Login Succesfull</b></body></html>");
  EXPECT_TRUE(
      fixture.front.HasRequestLine("127.0.0.1", ", bob> logged in succesfully (" + home + ")"));
  const std::string cookie = login.Header("Set-Cookie").substr(0, 31);  // IDHTTPSESSIONID=...
  ASSERT_EQ(cookie.rfind("IDHTTPSESSIONID=", 0), 0u);

  EXPECT_EQ(Get(fixture.Port(), "/", "Cookie: " + cookie + "\r\n").body, Page("bob's page"));
  EXPECT_EQ(Get(fixture.Port(), "/").body, Page("public page"));

  const HttpReply logout = Get(fixture.Port(), "/?action=logout", "Cookie: " + cookie + "\r\n");
  EXPECT_EQ(logout.body, "<html><body><b>Logout Succesfull</b></body></html>");
  EXPECT_TRUE(fixture.front.HasRequestLine("127.0.0.1", ", Anonymous> logged out succesfully"));
  EXPECT_EQ(Get(fixture.Port(), "/", "Cookie: " + cookie + "\r\n").body, Page("public page"));
}

TEST(ServingFiles, FailedLoginShowsTheAttemptedNameThenAnonymous) {
  CoreFixture fixture;
  fixture.data.Write("http/public/index.html", "public page");
  fixture.Start();
  const HttpReply failed = Get(fixture.Port(), "/?action=login&user=mallory&pass=guess");
  EXPECT_EQ(failed.body, "<html><body><b>Login Failed</b></body></html>");
  EXPECT_TRUE(fixture.front.HasRequestLine("127.0.0.1", ", mallory> login failed"));
  const std::string cookie = failed.Header("Set-Cookie").substr(0, 31);
  Get(fixture.Port(), "/", "Cookie: " + cookie + "\r\n");
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> replaced " + fixture.Home() + "index.html (13b; text/html)"));
}

TEST(ServingFiles, LoginWithoutUserOrPassIsAnOrdinaryRequest) {
  CoreFixture fixture;
  fixture.data.Write("http/public/index.html", "public page");
  fixture.Start();
  EXPECT_EQ(Get(fixture.Port(), "/?action=login").body, Page("public page"));
}

TEST(ServingFiles, FilesOfTwoGigabytesAndMoreKeepTheirTrueLength) {
  CoreFixture fixture;
  const std::string path = fixture.Home() + "huge.bin";
  const int64_t size = (int64_t{3} << 30) + 5;
  { std::ofstream(path, std::ios::binary).put('x'); }
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
  fixture.Start();

  const HttpReply head = Get(fixture.Port(), "/huge.bin", "", "HEAD");
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(size));
  const HttpReply get =
      FetchHeaderOnly(fixture.Port(), "GET /huge.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(get.status, 200);
  EXPECT_EQ(get.Header("Content-Length"), std::to_string(size));
  // The server survives the client going away mid-file and goes on serving.
  fixture.data.Write("http/public/small.html", "still here");
  EXPECT_EQ(Get(fixture.Port(), "/small.html").body, Page("still here"));
}

TEST(ServingFiles, PagesAreReplacedAndOtherFilesStreamedByteForByte) {
  CoreFixture fixture;
  fixture.data.Write("http/public/notes.TXT", "one\ntwo");
  std::string binary;
  for (int i = 0; i < 300000; ++i) binary.push_back(static_cast<char>(i * 7));
  fixture.data.Write("http/public/blob.bin", binary);
  fixture.Start();
  const HttpReply page = Get(fixture.Port(), "/notes.TXT");
  EXPECT_EQ(page.body, "one\r\ntwo\r\n");
  EXPECT_EQ(page.Header("Content-Type"), "text/plain");
  EXPECT_EQ(Get(fixture.Port(), "/blob.bin").body, binary);
  EXPECT_EQ(fixture.core->Stats().GetPagesDownloaded(), 1);
}

TEST(ServingFiles, ClientValuesAreEscapedInEveryMarkupPage) {
  const struct {
    const char* extension;
    const char* type;
    bool escaped;
  } cases[] = {
      {".htm", "", true},  // no type: browsers guess, and may guess HTML
      {".txt", "text/html; charset=utf-8", true},
      {".xml", "text/xml", true},
      {".html", "application/xhtml+xml", true},
      {".css", "text/css", false},
  };
  CoreFixture fixture;
  std::string mimeList;
  for (const auto& c : cases) {
    mimeList += std::string(c.extension) + "=" + c.type + "\r\n";
    fixture.data.Write(std::string("http/public/p") + c.extension, "||AGENT");
  }
  fixture.data.Write("httpmimelist.lst", mimeList);
  fixture.Start();
  for (const auto& c : cases) {
    const HttpReply reply =
        Get(fixture.Port(), std::string("/p") + c.extension, "User-Agent: <i>&\r\n");
    EXPECT_EQ(reply.status, 200) << c.extension;
    EXPECT_EQ(reply.body, Page(c.escaped ? "&lt;i&gt;&amp;" : "<i>&")) << c.extension;
  }
}

}  // namespace
}  // namespace morlak::test_support
