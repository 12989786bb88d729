// Members, aliases, counters and monitored files as a client sees them.
#include <gtest/gtest.h>

#include <regex>

#include "platform/files.h"
#include "support/core_fixture.h"
#include "support/http_fetch.h"

namespace morlak::test_support {
namespace {

std::string SessionCookie(const HttpReply& reply) {
  const std::string header = reply.Header("Set-Cookie");
  return "Cookie: " + header.substr(0, header.find(';')) + "\r\n";
}

std::string MembersFile(const std::string& home) {
  return "[httpmembers]\r\nhttpmembers=1\r\n[httpmember0]\r\nuser=alice\r\npass=pw\r\nhome=" +
         home + "\r\n";
}

TEST(StoresThroughServer, DeletedMemberFallsBackToAnonymous) {
  CoreFixture fixture;
  const std::string home = fixture.data.MakeFolder("alice/");
  fixture.data.Write("alice/private.html", "alice only");
  fixture.data.Write("httpmembers.lst", MembersFile(home));
  fixture.Start();

  EXPECT_EQ(Get(fixture.Port(), "/private.html").status, 404) << "anonymous never sees it";
  const HttpReply login = Get(fixture.Port(), "/?action=login&user=alice&pass=pw");
  const std::string cookie = SessionCookie(login);
  EXPECT_EQ(Get(fixture.Port(), "/private.html", cookie).body, "alice only\r\n");

  ASSERT_TRUE(fixture.core->Members().DeleteMember(0));
  EXPECT_EQ(Get(fixture.Port(), "/private.html", cookie).status, 404);
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1", ", alice> file not found " + fixture.Home() + "private.html"));
}

TEST(StoresThroughServer, RootAndDomainAliasesServeTheirFolders) {
  CoreFixture fixture({"enablerootaliases=1", "enabledomainaliases=1"});
  const std::string music = fixture.data.MakeFolder("music/");
  const std::string intranet = fixture.data.MakeFolder("intranet/");
  fixture.data.Write("music/song.txt", "la la");
  fixture.data.Write("intranet/index.html", "internal");
  fixture.data.Write("http/public/index.html", "public");
  fixture.data.Write("httprootaliases.lst", "/music/;" + music + ";\r\n");
  fixture.data.Write("httpdomainaliases.lst", "intranet;" + intranet + ";\r\n");
  fixture.Start();

  EXPECT_EQ(Get(fixture.Port(), "/music/song.txt").body, "la la\r\n");
  EXPECT_EQ(Fetch(fixture.Port(), "GET / HTTP/1.1\r\nHost: INTRANET:8080\r\n\r\n").body,
            "internal\r\n");
  EXPECT_EQ(Get(fixture.Port(), "/").body, "public\r\n");
}

TEST(StoresThroughServer, CounterTagsRiseWithRequests) {
  CoreFixture fixture;
  fixture.data.Write("http/public/counts.html",
                     "c=||CONNECTIONS s=||SESSIONS m=||MONITORCOUNT(song.mp3)");
  fixture.data.Write("http/public/song.mp3", "mp3 bytes");
  fixture.Start();
  ASSERT_TRUE(fixture.core->Monitored().AddMonitoredFile("SONG.mp3"));

  const std::regex numbers("c=(\\d+) s=(\\d+) m=(\\d+)");
  std::smatch first, second;
  const std::string before = Get(fixture.Port(), "/counts.html").body;
  ASSERT_TRUE(std::regex_search(before, first, numbers)) << before;
  Get(fixture.Port(), "/song.mp3");
  Get(fixture.Port(), "/song.mp3");
  const std::string after = Get(fixture.Port(), "/counts.html").body;
  ASSERT_TRUE(std::regex_search(after, second, numbers)) << after;

  EXPECT_EQ(std::stoi(second[1]), std::stoi(first[1]) + 3);
  EXPECT_EQ(std::stoi(second[2]), std::stoi(first[2]) + 3) << "no cookie: a session each";
  EXPECT_EQ(first[3], "0");
  EXPECT_EQ(second[3], "2");
  // Every hit saves the table.
  EXPECT_NE(
      ReadWholeFile(fixture.data.Path() + "httpspecialfiles.lst").value_or("").find("count=2"),
      std::string::npos);
}

}  // namespace
}  // namespace morlak::test_support
