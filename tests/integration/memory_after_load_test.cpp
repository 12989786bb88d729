// Memory that a load held goes back to the system once the load has ended.
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "platform/heap_tuning.h"
#include "support/core_fixture.h"
#include "support/process_state.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

using Clock = std::chrono::steady_clock;

// Resident pages of the heap: the main heap and the other arenas' heaps, which the C
// library maps at 64 MiB boundaries. Code pages a burst touches first, and the stacks of
// threads started meanwhile, stay resident too but are not memory the load holds.
long ResidentBytes() {
  constexpr unsigned long kArenaAlignment = 64UL << 20;
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool heap = false;
  long kb = 0;
  while (std::getline(smaps, line)) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) == 3) {
      heap = line.find("[heap]") != std::string::npos ||
             (start % kArenaAlignment == 0 && std::string_view(perms) == "rw-p" &&
              line.find('/') == std::string::npos);
    } else if (heap && line.rfind("Rss:", 0) == 0) {
      kb += std::stol(line.substr(4));
    }
  }
  return kb * 1024;
}

// Every cookie-less request leaves a session and an active-user row for the session
// timeout. Once they have ended, the housekeeping tick hands their pages back: the process
// keeps less than half of what the burst added.
TEST(MemoryAfterLoad, EndedSessionsGiveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator keeps freed memory on purpose";
#endif
  // Files of the extensions in "logextensions" are served without a log line, so no line
  // kept by the test's front end pins the pages of the ended sessions. The heap is set up
  // as the program sets it up for serving.
  TuneHeapForServer();
  CoreFixture fixture({"sessiontimeout=4000", "logextensions=.txt;"});
  fixture.data.Write("http/public/a.txt", "a");
  fixture.Start();
  // Cookie-less requests spread over 20 addresses, so that no address reaches its cap of
  // live sessions; then waits until their sessions have ended and the tick has run.
  const auto burst = [&fixture](int count) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    int sent = 0;
    for (; sent < count && Clock::now() < deadline; ++sent)
      Exchange(fixture.Port(), "GET /a.txt HTTP/1.1\r\n\r\n",
               "127.0.0." + std::to_string(1 + sent % 20));
    return sent;
  };
  const auto endSessions = [&fixture] {
    const auto ended = Clock::now() + std::chrono::seconds(20);
    while (fixture.core->ClientCount.load() > 0 && Clock::now() < ended)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(fixture.core->ClientCount.load(), 0);
    fixture.core->Tick();
  };
  // A first, smaller burst brings in what any load leaves for good (threads, their
  // buffers, code pages), so the measured one shows only what its sessions held.
  burst(2000);
  endSessions();
  const long before = ResidentBytes();
  const size_t threadsBefore = ThreadCount();
  ASSERT_GE(burst(12000), 4000) << "too few requests within the time";
  const long grown = ResidentBytes() - before;
  ASSERT_GT(grown, 2L << 20) << "the burst should have taken some megabytes";
  endSessions();
  const struct mallinfo2 heap = mallinfo2();
  EXPECT_LT(ResidentBytes() - before, grown / 2)
      << "grown by " << grown << " bytes, kept " << ResidentBytes() - before << "; in use "
      << heap.uordblks << ", free " << heap.fordblks << ", threads " << threadsBefore << " -> "
      << ThreadCount();
}

}  // namespace
}  // namespace morlak::test_support
