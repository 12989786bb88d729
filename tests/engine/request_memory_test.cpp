// What one request costs in memory: whatever a client sends, the engine holds no more
// than a small multiple of its bytes, and a plain file request takes few allocations.
// Every allocation of this test program is metered (operator new is replaced below), so
// the peak and the count are measured, not estimated.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include "server/server_core.h"
#include "support/memory_io_handler.h"
#include "support/temp_folder.h"

namespace {

std::atomic<int64_t> g_live{0}, g_peak{0}, g_count{0};

void* Metered(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  g_count.fetch_add(1, std::memory_order_relaxed);
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

// Counts the request lines and checks each against the expected one, allocating nothing.
class CountingFrontEnd : public FrontEnd {
 public:
  void Synchronize(const std::function<void()>& work) override {
    std::lock_guard<std::mutex> lock(mainThread_);
    work();
  }
  void AddLog(const std::string&) override {}
  void PostLog(const std::string& text, TOzm_logfile*) override {
    std::lock_guard<std::mutex> lock(mainThread_);
    if (text.starts_with("HTTP://")) {
      ++requestLines;
      if (!text.ends_with(expectedEnd)) ++otherLines;
    }
  }
  void ShowMessage(const std::string&) override {}
  void RefreshMemberList() override {}
  void RefreshMonitoredFileList() override {}

  std::string expectedEnd;
  int requestLines = 0, otherLines = 0;

 private:
  std::mutex mainThread_;
};

// One request on a new connection, read until the server closes; the answer's first bytes.
std::string_view Fetch(int port, std::string_view request, char (&answer)[4096]) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval limit{10, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  size_t got = 0;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
      ::send(s, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    for (ssize_t n;
         got < sizeof answer && (n = ::recv(s, answer + got, sizeof answer - got, 0)) > 0;)
      got += static_cast<size_t>(n);
  }
  ::close(s);
  return std::string_view(answer, got);
}

// A 1 KiB file for a client without a cookie, over a new connection: accept, a new
// session, the dispatcher, the file and the log line all included.
TEST(RequestMemory, SmallFileForANewClientTakesFewAllocations) {
  TempFolder data;
  data.Write("httpsettings.lst",
             "[settings]\r\nhomedirectory=" + data.Path() + "site/\r\nreplacedata=0\r\n");
  const std::string file = data.Write("site/1k.html", std::string(1024, 'a'));
  CountingFrontEnd front;
  front.expectedEnd = ", Anonymous> served " + file + " (1024b, text/html)";
  CoreOptions options;
  options.programFolder = data.Path();
  options.httpPort = 0;
  ServerCore core(front, options);
  core.Startup(true);
  const int port = core.IdHTTPServer1.BoundPort();
  const std::string request = "GET /1k.html HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nConnection: close\r\n\r\n";
  char answer[4096];
  auto quiet = [&] {
    for (int i = 0; i < 500 && core.IdHTTPServer1.ConnectionCount() > 0; ++i) ::usleep(10000);
  };
  // The first requests start the threads and fill the stores' tables.
  for (int i = 0; i < 20; ++i) Fetch(port, request, answer);
  quiet();
  constexpr int kRequests = 200;
  int served = 0;
  const int64_t before = g_count.load();
  for (int i = 0; i < kRequests; ++i)
    served += Fetch(port, request, answer).starts_with("HTTP/1.1 200 OK\r\n");
  quiet();
  const int64_t allocations = g_count.load() - before;
  core.Shutdown();
  EXPECT_EQ(served, kRequests);
  EXPECT_EQ(front.requestLines, 20 + kRequests);
  EXPECT_EQ(front.otherLines, 0);
  RecordProperty("allocations per request", std::to_string(double(allocations) / kRequests));
  // What the path takes now, one by one: the connection and its transport (2), the session,
  // its variables and the active-user row with its document (4), the local path and one more
  // text of the dispatcher (2). The header of a request like the thread's last one, the
  // settings, read in place, the file, the answer's header lines and cookie list, and the log
  // line take none.
  constexpr int kAllocationsPerRequest = 9;
  EXPECT_LE(allocations, kAllocationsPerRequest * kRequests);
}

}  // namespace
}  // namespace morlak::test_support
