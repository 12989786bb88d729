// A blocking loopback client for integration tests: connect (optionally from a chosen
// local address), send bytes, read until the server closes. Every read is bounded by a
// receive timeout, so a misbehaving server fails a test instead of hanging it.
#pragma once

#include <string>

#include "platform/socket.h"

namespace morlak::test_support {

class LoopbackClient {
 public:
  // Connects to 127.0.0.1:port from `fromAddress` (any loopback address).
  explicit LoopbackClient(int port, const std::string& fromAddress = "");
  ~LoopbackClient();
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool Connected() const { return socket_ != kInvalidSocket; }
  void Send(const std::string& bytes);
  // Ends the sending side; the server reads end-of-stream, answers can still arrive.
  void ShutdownSend() { SocketShutdownSend(socket_); }
  // Everything until the server closes (or the timeout passes: then timedOut is set).
  std::string ReadAll(int timeoutMs = 5000);
  // Whatever arrives within the time; empty when nothing does.
  std::string ReadSome(int timeoutMs);
  // True when the server closed the connection without sending anything further.
  bool ClosedByServer(int timeoutMs = 5000);
  bool timedOut = false;

 private:
  SocketHandle socket_ = kInvalidSocket;
};

// One request on a fresh connection; the whole answer.
std::string Exchange(int port, const std::string& request, const std::string& fromAddress = "");

}  // namespace morlak::test_support
