// An HTTP server on 127.0.0.1 with a system-chosen port, recording the exceptions its
// connections raise, for the loopback tests.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/http_server.h"

namespace morlak::test_support {

// Declare whatever a test's handlers use before its TestServer: the server stops (and
// raises its last events) when it is destroyed, after everything declared later.
class TestServer {
 public:
  TestServer() {
    server.Bindings.push_back({"127.0.0.1", 0});
    server.ServerSoftware = "Morlak test";
    server.OnException = [this](TIdPeerThread&, const std::exception& e) {
      std::lock_guard lock(mutex_);
      exceptions_.push_back(e.what());
    };
  }

  int Start() {
    server.SetActive(true);
    return server.BoundPort();
  }

  // Waits (bounded) until no connection is live, so every event of earlier connections
  // has been raised.
  bool WaitIdle(int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (server.ConnectionCount() != 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  std::vector<std::string> TakeExceptions() {
    std::lock_guard lock(mutex_);
    return std::move(exceptions_);
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> exceptions_;

 public:
  // Last, so it stops before the members its handlers use go away.
  TIdHTTPServer server;
};

}  // namespace morlak::test_support
