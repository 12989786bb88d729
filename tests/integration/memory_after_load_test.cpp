// Memory that a load held goes back to the system once the load has ended.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/heap_tuning.h"
#include "support/core_fixture.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

using Clock = std::chrono::steady_clock;

// Anonymous pages only: the code pages a burst touches for the first time stay resident
// but are not memory the load holds.
long ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("RssAnon:", 0) == 0) return std::stol(line.substr(8)) * 1024;
  return 0;
}

// Every cookie-less request leaves a session and an active-user row for the session
// timeout. Once they have ended, the housekeeping tick hands their pages back: the process
// keeps less than half of what the burst added.
TEST(MemoryAfterLoad, EndedSessionsGiveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator keeps freed memory on purpose";
#endif
  // Files of the extensions in "logextensions" are served without a log line, so no line
  // kept by the test's front end pins the pages of the ended sessions.
  // The heap as the program sets it up for serving.
  TuneHeapForServer();
  CoreFixture fixture({"sessiontimeout=1000", "logextensions=.txt;"});
  fixture.data.Write("http/public/a.txt", "a");
  fixture.Start();
  const long before = ResidentBytes();
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  int sent = 0;
  // Spread over 20 addresses, so that no address reaches its cap of live sessions.
  for (; sent < 12000 && Clock::now() < deadline; ++sent)
    Exchange(fixture.Port(), "GET /a.txt HTTP/1.1\r\n\r\n",
             "127.0.0." + std::to_string(1 + sent % 20));
  ASSERT_GE(sent, 4000) << "too few requests within the time";
  const long grown = ResidentBytes() - before;
  ASSERT_GT(grown, 2L << 20) << "the burst should have taken some megabytes";

  const auto ended = Clock::now() + std::chrono::seconds(20);
  while (fixture.core->ClientCount.load() > 0 && Clock::now() < ended)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(fixture.core->ClientCount.load(), 0);
  fixture.core->Tick();
  EXPECT_LT(ResidentBytes() - before, grown / 2)
      << "grown by " << grown << " bytes, kept " << ResidentBytes() - before;
}

}  // namespace
}  // namespace morlak::test_support
