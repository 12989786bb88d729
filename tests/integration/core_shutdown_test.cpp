// The core at the end of its life: a connection thread that outlives the stop attempts
// still finds every store alive.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "support/core_fixture.h"
#include "support/http_fetch.h"
#include "support/socket_client.h"

namespace morlak::test_support {
namespace {

// Holds connection threads at their first call to the main thread until opened.
class GatedFrontEnd : public RecordingFrontEnd {
 public:
  void Synchronize(const std::function<void()>& work) override {
    if (std::this_thread::get_id() != main_) {
      std::unique_lock lock(mutex_);
      ++waiting_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
    }
    RecordingFrontEnd::Synchronize(work);
  }
  bool WaitForAWaiter() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return waiting_ > 0; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  const std::thread::id main_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

TEST(CoreShutdown, AThreadOutlivingTheStopAttemptsStillFindsTheStores) {
  TempFolder data;
  data.Write("httpsettings.lst", "[settings]\r\nlogtofile=1\r\n");
  data.MakeFolder("http/public");
  GatedFrontEnd front;
  CoreOptions options;
  options.programFolder = data.Path();
  options.httpPort = 0;
  auto core = std::make_unique<ServerCore>(front, options);
  core->Startup(true);
  core->IdHTTPServer1.TerminateWaitTime = 100;
  const int port = core->IdHTTPServer1.BoundPort();

  HttpReply reply;
  std::thread client([&] { reply = Get(port, "/missing.html"); });
  ASSERT_TRUE(front.WaitForAWaiter());
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    front.Open();
  });
  // The stop attempt of the destructor gives up after 100 ms; the stores must still be
  // there when the thread goes on (a sanitizer build reports any use after their end).
  core.reset();
  opener.join();
  client.join();
  // The stop closed the socket, so no answer gets through; the request still ran to its end.
  EXPECT_EQ(reply.status, 0);
  EXPECT_TRUE(front.HasPart("> file not found " + data.Path() + "http/public/missing.html"));
}

}  // namespace
}  // namespace morlak::test_support
