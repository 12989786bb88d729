// What one request costs in memory: whatever a client sends, the engine holds no more
// than a small multiple of its bytes. Every allocation of this test program is metered
// (operator new is replaced below), so the peak is measured, not estimated.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include "support/memory_io_handler.h"

namespace {

std::atomic<int64_t> g_live{0}, g_peak{0};

void* Metered(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  const int64_t live = g_live += static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return p;
}

void Unmetered(void* p) {
  if (!p) return;
  g_live -= static_cast<int64_t>(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

void* operator new(size_t size) {
  return Metered(size);
}
void* operator new[](size_t size) {
  return Metered(size);
}
void operator delete(void* p) noexcept {
  Unmetered(p);
}
void operator delete[](void* p) noexcept {
  Unmetered(p);
}
void operator delete(void* p, size_t) noexcept {
  Unmetered(p);
}
void operator delete[](void* p, size_t) noexcept {
  Unmetered(p);
}

namespace morlak::test_support {
namespace {

std::string Repeat(std::string_view piece, size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (size_t i = 0; i < n; ++i) out += piece;
  return out;
}

std::string Lines(const std::string& line, size_t n, const char* end = "\r\n") {
  return Repeat(line + end, n);
}

TEST(RequestMemory, PeakStaysWithinThreeTimesTheBytesSent) {
  const struct {
    const char* name;
    std::string request;
    bool served;
  } cases[] = {
      {"cookie lines of bare separators",
       "GET / HTTP/1.1\r\n" + Lines("Cookie: " + std::string(16000, ';'), 65) + "\r\n", true},
      {"cookie lines of tiny cookies",
       "GET / HTTP/1.1\r\n" + Lines("Cookie: " + Repeat("a;", 8000), 65) + "\r\n", true},
      {"form of tiny pairs",
       "POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
       "Content-Length: 8000000\r\n\r\n" +
           Repeat("a=b&", 2000000),
       true},
      {"form of one large value",
       "POST /?q=1 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
       "Content-Length: 8000002\r\n\r\nv=" +
           Repeat("%41", 8000000 / 3) + "xx",
       true},
      {"many one-letter header lines", "GET / HTTP/1.1\r\n" + Lines("a", 1000000, "\n") + "\n",
       false},
  };
  for (const auto& c : cases) {
    MemoryHTTPServer server;
    size_t params = 0, cookies = 0;
    server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo&) {
      params = rq.ParamList.Count();
      cookies = rq.RequestCookies.Count();
    };
    // The input is the client's, not the server's: made before the metering starts.
    std::string input = c.request;
    std::string error;
    error.reserve(64);
    const int64_t before = g_live.load();
    g_peak = before;
    EXPECT_EQ(server.Serve(std::move(input), 65536, &error), c.served) << c.name << ": " << error;
    const int64_t cost = g_peak.load() - before;
    EXPECT_LT(cost, 3 * static_cast<int64_t>(c.request.size())) << c.name;
    RecordProperty(c.name, std::to_string(cost) + " of " + std::to_string(c.request.size()));
    EXPECT_LE(params, TIdHTTPRequestInfo::kMaxParams) << c.name;
    EXPECT_LE(cookies, TIdCookies::kMaxRequestCookies) << c.name;
  }
}

TEST(RequestMemory, EmptyCookiePiecesMakeNoCookie) {
  MemoryHTTPServer server;
  std::vector<std::string> names;
  server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo& rq, TIdHTTPResponseInfo&) {
    for (const auto& c : rq.RequestCookies.items) names.push_back(c.Name + "=" + c.Value);
  };
  ASSERT_TRUE(server.Serve("GET / HTTP/1.1\r\nCookie: ;; a=1 ; ;b=2;\r\nCookie: c\r\n\r\n"));
  EXPECT_EQ(names, (std::vector<std::string>{"a=1", "b=2", "c="}));
}

TEST(RequestMemory, HeaderLimitCountsLineEnds) {
  // 999 lines whose text alone stays under 1 MB, but not with their CR LF.
  const std::string line = "X-Fill: " + std::string(1041, 'x');
  const std::string header = Lines(line, 999);
  ASSERT_LT(999 * line.size(), size_t{1} << 20);
  ASSERT_GT(header.size(), size_t{1} << 20);
  MemoryHTTPServer server;
  bool handled = false;
  server.OnCommandGet = [&](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {
    handled = true;
  };
  std::string error;
  EXPECT_FALSE(server.Serve("GET / HTTP/1.1\r\n" + header + "\r\n", 65536, &error));
  EXPECT_EQ(error, "Request header too large.");
  EXPECT_FALSE(handled);
}

}  // namespace
}  // namespace morlak::test_support
