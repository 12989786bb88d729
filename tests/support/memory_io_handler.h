// A transport over bytes in memory, for driving the HTTP engine without sockets: reads
// hand out the given input in pieces of at most `piece` bytes, then report the peer's
// close; writes are counted and dropped.
#pragma once

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "engine/http_server.h"
#include "engine/io_handler.h"

namespace morlak::test_support {

class MemoryIOHandler : public TIdIOHandler {
 public:
  // The handle is a real, unconnected socket, so the connection counts as open.
  explicit MemoryIOHandler(std::string input, size_t piece = 65536)
      : TIdIOHandler(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0), SocketAddress{}),
        input_(std::move(input)),
        piece_(std::max<size_t>(piece, 1)) {}

  int64_t Recv(void* buffer, size_t length) override {
    const size_t n = std::min({length, piece_, input_.size() - taken_});
    std::memcpy(buffer, input_.data() + taken_, n);
    taken_ += n;
    return static_cast<int64_t>(n);
  }
  int64_t RecvArrived(void* buffer, size_t length) override { return Recv(buffer, length); }
  // No readiness set reports this input: it is simply there.
  bool LooksForInputBeforeWait() const override { return true; }
  int64_t Send(const void*, size_t length, bool) override {
    sent_ += length;
    return static_cast<int64_t>(length);
  }
  int WaitReadable(int) override { return 1; }
  size_t Sent() const { return sent_; }

 private:
  std::string input_;
  size_t piece_;
  size_t taken_ = 0;
  size_t sent_ = 0;
};

// An HTTP listener that is never activated: requests are run on memory connections.
class MemoryHTTPServer : public TIdCustomHTTPServer {
 public:
  // Serves the input as one connection; false when the request failed (the message of the
  // failure in `error`).
  bool Serve(std::string input, size_t piece = 65536, std::string* error = nullptr) {
    TIdListener listener;
    TIdPeerThread thread(*this, listener,
                         std::make_unique<MemoryIOHandler>(std::move(input), piece));
    try {
      DoExecute(thread);
      return true;
    } catch (const std::exception& e) {
      if (error) *error = e.what();
      return false;
    }
  }
};

}  // namespace morlak::test_support
