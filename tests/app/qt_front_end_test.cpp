#include <QTest>
#include <chrono>
#include <future>
#include <thread>

#include "main_window_fixture.h"
#include "support/http_fetch.h"

namespace morlak::test_support {
namespace {

using namespace std::chrono_literals;

// A download of a monitored file refills the window's list through a synchronised call,
// which waits for the GUI thread; the GUI thread stops the listener, which waits for that
// request's thread. The stop must serve the waiting call and finish.
TEST_F(MainWindowTest, StoppingWhileAConnectionThreadWaitsForTheWindowDoesNotDeadlock) {
  folder.Write("http/public/index.html", "<p>hello</p>");
  Open();
  window->Core().Monitored().AddMonitoredFile("index.html");
  SettingsValues values = window->Core().Settings().Get();
  values.homeDirectory = folder.Path() + "http/public/";
  window->Core().Settings().Set(values);
  window->StartServers();
  ASSERT_TRUE(window->Core().IdHTTPServer1.Active());
  const int port = window->Core().IdHTTPServer1.BoundPort();

  // The GUI thread runs no events here, so the refill stays queued once the hit is counted.
  auto reply = std::async(std::launch::async, [port] { return Get(port, "/index.html"); });
  int32_t hits = 0;
  for (int i = 0; i < 1000 && hits == 0; ++i) {
    std::this_thread::sleep_for(10ms);
    window->Core().Monitored().GetMonitoredCount("index.html", hits);
  }
  ASSERT_EQ(hits, 1);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(reply.wait_for(0s), std::future_status::timeout) << "the refill did not wait";

  const auto start = std::chrono::steady_clock::now();
  window->StopServers();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 4s) << "the stop waited for a thread that waited for it";
  EXPECT_FALSE(window->Core().IdHTTPServer1.Active());
  // The stop ends the connection; the client is not left hanging either way.
  EXPECT_EQ(reply.wait_for(10s), std::future_status::ready);
  const QStringList lines = LogLines();
  EXPECT_EQ(lines.first(), "- HTTP server stopped");
  EXPECT_TRUE(lines[1].contains("/index.html")) << lines[1].toStdString();
  EXPECT_EQ(List("monitored-file list").Model().Cell(0, 1), "1");
}

// A log file that cannot be written says so with a line of its own, raised while the
// line that failed still holds the window's queue: neither may wait for the other.
TEST_F(MainWindowTest, ALogFileThatCannotBeWrittenIsReportedWithoutHanging) {
  Open();
  SettingsValues values = window->Core().Settings().Get();
  values.logToFile = true;
  window->Core().Settings().Set(values);
  window->Core().LogFile().SetFilename(folder.Path());  // a folder: every append fails
  LogLines();
  window->Log().Clear();
  auto logged = std::async(std::launch::async,
                           [this] { window->Core().LogWindowAndFile("- from a request"); });
  ASSERT_EQ(logged.wait_for(10s), std::future_status::ready) << "the failed append hung";
  QStringList lines;  // the window collects lines of other threads a moment later
  for (int i = 0; i < 500 && lines.size() < 2; ++i) {
    QTest::qWait(10);
    lines = LogLines();
  }
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], "- from a request");
  EXPECT_FALSE(window->Core().LogFile().LastError().empty());
  EXPECT_EQ(lines[1].toStdString(), "- " + window->Core().LogFile().LastError());
}

// Calls from many threads all run on the GUI thread, each exactly once; log lines from
// them reach the view without waiting, each thread's lines in their order.
TEST_F(MainWindowTest, SynchronisedCallsRunOnTheGuiThreadAndLinesKeepTheirOrder) {
  Open();
  SettingsValues values = window->Core().Settings().Get();
  values.maxLogLines = 1000;
  window->Core().Settings().Set(values);
  window->Log().Clear();
  QtFrontEnd& front = window->Front();
  std::atomic<int> wrongThread{0};
  int runs = 0;  // touched on the GUI thread only
  std::vector<std::thread> callers;
  for (int t = 0; t < 8; ++t)
    callers.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        front.Synchronize([&] {
          if (!front.OnGuiThread()) ++wrongThread;
          ++runs;
        });
        window->Core().LogWindow("- thread " + std::to_string(t) + " line " + std::to_string(i));
      }
    });
  // Served by the event loop, bounded in time.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (runs < 400 && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  for (auto& c : callers) c.join();
  EXPECT_EQ(runs, 400);
  EXPECT_EQ(wrongThread, 0);
  QTest::qWait(2 * QtFrontEnd::kLogBatchMs);
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 400);
  std::vector<int> next(8, 49);  // newest first: each thread's lines count down
  for (const QString& line : lines) {
    const int t = line.section(u' ', 2, 2).toInt();
    EXPECT_EQ(line.section(u' ', 4, 4).toInt(), next[t]--) << line.toStdString();
  }
}

}  // namespace
}  // namespace morlak::test_support
