#include "support/socket_client.h"

#include <chrono>

namespace morlak::test_support {

LoopbackClient::LoopbackClient(int port, const std::string& fromAddress) {
  socket_ = SocketCreateStream();
  if (socket_ == kInvalidSocket) return;
  const bool ok = (fromAddress.empty() || SocketBind(socket_, fromAddress, 0)) &&
                  SocketConnect(socket_, "127.0.0.1", port);
  if (!ok) {
    SocketClose(socket_);
    socket_ = kInvalidSocket;
  }
}

LoopbackClient::~LoopbackClient() {
  if (socket_ != kInvalidSocket) SocketClose(socket_);
}

void LoopbackClient::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int64_t n = SocketSend(socket_, bytes.data() + sent, bytes.size() - sent, false);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

std::string LoopbackClient::ReadAll(int timeoutMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || SocketWaitReadable(socket_, static_cast<int>(left)) <= 0) {
      timedOut = true;
      return out;
    }
    const int64_t n = SocketRecv(socket_, buffer, sizeof buffer);
    if (n <= 0) return out;  // closed (or reset: nothing more comes either way)
    out.append(buffer, static_cast<size_t>(n));
  }
}

std::string LoopbackClient::ReadSome(int timeoutMs) {
  char buffer[65536];
  if (SocketWaitReadable(socket_, timeoutMs) <= 0) return std::string();
  const int64_t n = SocketRecv(socket_, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

bool LoopbackClient::ClosedByServer(int timeoutMs) {
  const std::string rest = ReadAll(timeoutMs);
  return rest.empty() && !timedOut;
}

std::string Exchange(int port, const std::string& request, const std::string& fromAddress) {
  LoopbackClient client(port, fromAddress);
  if (!client.Connected()) return "<no connection>";
  client.Send(request);
  return client.ReadAll();
}

}  // namespace morlak::test_support
