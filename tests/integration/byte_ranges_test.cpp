// Byte ranges, conditional requests and validators of files, through a real core.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/core_fixture.h"
#include "support/http_fetch.h"

namespace morlak::test_support {
namespace {

// 2020-05-17 10:20:30 UTC: old enough for strong validators.
const timespec kModified = {1589710830, 0};
const char kModifiedText[] = "Sun, 17 May 2020 10:20:30 GMT";

void WriteDated(CoreFixture& fixture, const std::string& name, const std::string& data) {
  const std::string path = fixture.data.Write("http/public/" + name, data);
  const timespec times[2] = {{0, UTIME_OMIT}, kModified};
  EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

HttpReply GetWith(CoreFixture& fixture, const std::string& target, const std::string& headers,
                  const std::string& method = "GET") {
  return Get(fixture.Port(), target, headers.empty() ? "" : headers + "\r\n", method);
}

TEST(ByteRanges, RangeAndConditionHeadersChooseStatusRangeAndBytes) {
  CoreFixture fixture;
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + 7);
  WriteDated(fixture, "data.bin", data);
  WriteDated(fixture, "empty.bin", "");
  fixture.data.Write("http/public/page.html", "page");
  ASSERT_EQ(::mkfifo((fixture.Home() + "pipe.bin").c_str(), 0644), 0);
  fixture.Start();
  const std::string tag = Get(fixture.Port(), "/data.bin").Header("ETag");
  ASSERT_EQ(tag, "\"160fc993c5bdcc00-3e8\"");  // modification time and size

  std::string manyRanges = "Range: bytes=0-0";
  for (int i = 0; i < 3000; ++i) manyRanges += ",0-0";
  const struct {
    std::string target, headers;
    int status;
    std::string contentRange, body;
  } cases[] = {
      {"/data.bin", "", 200, "", data},
      {"/data.bin", "Range: bytes=0-99", 206, "bytes 0-99/1000", data.substr(0, 100)},
      {"/data.bin", "Range: bytes=-10", 206, "bytes 990-999/1000", data.substr(990)},
      {"/data.bin", "Range: bytes=-5000", 206, "bytes 0-999/1000", data},
      {"/data.bin", "Range: bytes=500-99999999999999999999", 206, "bytes 500-999/1000",
       data.substr(500)},
      {"/data.bin", "Range: bytes=1000-", 416, "bytes */1000", ""},
      {"/data.bin", "Range: bytes=99999999999999999999-", 416, "bytes */1000", ""},
      {"/data.bin", "Range: bytes=-0", 416, "bytes */1000", ""},
      {"/empty.bin", "Range: bytes=0-", 416, "bytes */0", ""},
      {"/empty.bin", "Range: bytes=-1", 416, "bytes */0", ""},
      {"/data.bin", "Range: bytes=5-3", 200, "", data},
      {"/data.bin", "Range: bytes=--1", 200, "", data},
      {"/data.bin", "Range: items=0-5", 200, "", data},
      {"/data.bin", "Range: bytes=0-0,5-9", 200, "", data},
      {"/data.bin", manyRanges, 200, "", data},
      {"/data.bin", "Range: bytes=1-2\r\nIf-Range: " + tag, 206, "bytes 1-2/1000",
       data.substr(1, 2)},
      {"/data.bin", "Range: bytes=1-2\r\nIf-Range: W/" + tag, 200, "", data},
      {"/data.bin", "Range: bytes=1-2\r\nIf-Range: " + std::string(kModifiedText), 206,
       "bytes 1-2/1000", data.substr(1, 2)},
      {"/data.bin", "Range: bytes=1-2\r\nIf-Range: Sun, 17 May 2020 10:20:31 GMT", 200, "", data},
      {"/data.bin", "If-None-Match: " + tag, 304, "", ""},
      {"/data.bin", "If-None-Match: \"x\", W/" + tag, 304, "", ""},
      {"/data.bin", "If-None-Match: *\r\nRange: bytes=0-1", 304, "", ""},
      {"/data.bin", "If-None-Match: \"x\"", 200, "", data},
      {"/data.bin", "If-Modified-Since: " + std::string(kModifiedText), 304, "", ""},
      {"/data.bin", "If-Modified-Since: Sun, 17 May 2020 10:20:29 GMT", 200, "", data},
      {"/data.bin", "If-Modified-Since: Fri, 1 Jan 2100 00:00:00 GMT", 200, "", data},
      {"/data.bin", "If-None-Match: \"x\"\r\nIf-Modified-Since: " + std::string(kModifiedText), 200,
       "", data},
      {"/data.bin", "If-Match: \"x\"", 412, "", ""},
      {"/data.bin", "If-Match: " + tag + "\r\nRange: bytes=3-3", 206, "bytes 3-3/1000",
       data.substr(3, 1)},
      {"/data.bin", "If-Unmodified-Since: Sun, 17 May 2020 10:20:29 GMT", 412, "", ""},
      // Pages whose text changes on the way, and what is no file, take no part.
      {"/page.html", "Range: bytes=0-1\r\nIf-None-Match: *", 200, "", "page\r\n"},
      {"/pipe.bin", "Range: bytes=0-1", 404, "",
       "<html><body><b>404</b> File not found</body></html>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target + " " + c.headers.substr(0, 80));
    const HttpReply reply = GetWith(fixture, c.target, c.headers);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.Header("Content-Range"), c.contentRange);
    EXPECT_TRUE(reply.body == c.body);
    EXPECT_EQ(reply.Header("Content-Length"), c.status == 304 ? "" : std::to_string(c.body.size()));
    const bool validated = c.status != 404 && c.target != "/page.html";
    EXPECT_EQ(reply.Header("ETag").empty(), !validated);
    EXPECT_EQ(reply.Header("Last-Modified"), validated ? kModifiedText : "");
    EXPECT_EQ(reply.Header("Accept-Ranges"), validated ? "bytes" : "");
  }
  // HEAD carries GET's header lines; a range is defined for GET only.
  const HttpReply head = GetWith(fixture, "/data.bin", "Range: bytes=0-9", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), "1000");
  EXPECT_EQ(head.Header("ETag"), tag);
  EXPECT_EQ(GetWith(fixture, "/data.bin", "If-None-Match: " + tag, "HEAD").status, 304);
  EXPECT_TRUE(fixture.front.HasRequestLine(
      "127.0.0.1", ", Anonymous> served " + fixture.Home() +
                       "data.bin (100b, ) 206 Partial Content (bytes 0-99/1000)"));
  // A header past the line limit is refused like any other; the server goes on.
  for (int i = 0; i < 7000; ++i) manyRanges += ",0-0";
  EXPECT_EQ(GetWith(fixture, "/data.bin", manyRanges).raw, "");
  // A file just written may change again within its clock tick: its tag is weak.
  fixture.data.Write("http/public/data.bin", data);
  const std::string fresh = Get(fixture.Port(), "/data.bin").Header("ETag");
  EXPECT_EQ(fresh.substr(0, 3), "W/\"");
  EXPECT_EQ(GetWith(fixture, "/data.bin", "If-None-Match: " + tag).status, 200);
  EXPECT_EQ(GetWith(fixture, "/data.bin", "Range: bytes=0-1\r\nIf-Range: " + fresh).status, 200);
}

TEST(ByteRanges, OnlyWholeAnswersAndRangesFromTheStartCountAsDownloads) {
  CoreFixture fixture({"replacedata=0"});
  WriteDated(fixture, "song.webm", std::string(5000, 's'));
  WriteDated(fixture, "page.html", std::string(300, 'p'));
  fixture.Start();
  ASSERT_TRUE(fixture.core->Monitored().AddMonitoredFile("song.webm"));
  const struct {
    std::string target, headers;
    int status, pages, hits;
    int64_t bytes;
  } cases[] = {
      {"/song.webm", "", 200, 0, 1, 5000},
      {"/song.webm", "Range: bytes=0-", 206, 0, 1, 5000},
      {"/song.webm", "Range: bytes=0-9", 206, 0, 1, 10},
      {"/song.webm", "Range: bytes=100-199", 206, 0, 0, 100},
      {"/page.html", "", 200, 1, 0, 300},
      {"/page.html", "Range: bytes=1-", 206, 0, 0, 299},
      {"/page.html", "Range: bytes=0-", 206, 1, 0, 300},
      {"/page.html", "If-None-Match: *", 304, 0, 0, 0},
      {"/song.webm", "If-Modified-Since: " + std::string(kModifiedText), 304, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target + " " + c.headers);
    const int32_t pages = fixture.core->Stats().GetPagesDownloaded();
    const int64_t bytes = fixture.core->Stats().GetBytesDownloaded();
    int32_t hits = 0, hitsAfter = 0;
    fixture.core->Monitored().GetMonitoredCount("song.webm", hits);
    EXPECT_EQ(GetWith(fixture, c.target, c.headers).status, c.status);
    fixture.core->Monitored().GetMonitoredCount("song.webm", hitsAfter);
    EXPECT_EQ(fixture.core->Stats().GetPagesDownloaded() - pages, c.pages);
    EXPECT_EQ(hitsAfter - hits, c.hits);
    EXPECT_EQ(fixture.core->Stats().GetBytesDownloaded() - bytes, c.bytes);
  }
}

}  // namespace
}  // namespace morlak::test_support
