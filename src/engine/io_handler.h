// The seam between a connection and its transport. A server handler turns each accepted
// socket into a per-connection handler; every receive, send, file send and close of the
// connection goes through that handler, so the TLS layer replaces the plain socket
// handler without the layers above noticing.
// TIdIOHandler is the per-connection transport, TIdServerIOHandler its factory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/socket.h"

namespace morlak {

class TFileStream;

// The socket of one connection and its peer. Close and Interrupt may race from different
// threads; the handle is released exactly once.
class TIdSocketHandle {
 public:
  TIdSocketHandle(SocketHandle handle, SocketAddress peer);
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  SocketHandle Handle() const { return handle_.load(std::memory_order_relaxed); }
  bool HandleAllocated() const { return Handle() != kInvalidSocket; }
  const std::string& PeerAddress() const { return peer_.ip; }
  int PeerPort() const { return peer_.port; }

  // Shuts down sending, then closes.
  void Close();
  // Shuts down both directions, so reads and writes blocked in the owning thread fail;
  // the handle stays open for the owner to close.
  void Interrupt();

 private:
  std::mutex mutex_;
  std::atomic<SocketHandle> handle_;
  SocketAddress peer_;
};

// Per-connection transport. Results are byte counts; a negative result is the negated
// socket error code (-10054 for a reset).
class TIdIOHandler {
 public:
  TIdIOHandler(SocketHandle handle, SocketAddress peer) : binding_(handle, std::move(peer)) {}
  virtual ~TIdIOHandler() = default;
  TIdIOHandler(const TIdIOHandler&) = delete;
  TIdIOHandler& operator=(const TIdIOHandler&) = delete;

  // The connection's opening exchange (the TLS handshake), before anything else of it;
  // throws to refuse the connection without a reply. 0 when done; otherwise how long (ms)
  // the connection may wait, without a thread, for the peer's next bytes, after which
  // this is called again.
  virtual int AfterAccept() { return 0; }
  // 0 when the peer closed.
  virtual int64_t Recv(void* buffer, size_t length) = 0;
  // What has already arrived, without waiting; -kSocketWouldBlock when nothing has, and
  // always for a transport that cannot tell without a wait.
  virtual int64_t RecvArrived(void*, size_t) { return -kSocketWouldBlock; }
  // Whether a connection about to wait for input asks RecvArrived first. A plain socket
  // does not once a read has taken all that had arrived: the readiness set reports later
  // input.
  virtual bool LooksForInputBeforeWait() const { return false; }
  // `moreFollows` lets the transport hold a short piece back to join it with the next.
  virtual int64_t Send(const void* data, size_t length, bool moreFollows) = 0;
  // Sends the connection's last bytes: nothing is written after them, so a transport with
  // a closing message of its own may send it with them.
  virtual int64_t SendLast(const void* data, size_t length) { return Send(data, length, false); }
  // Sends up to `count` bytes of the file from `offset`; 0 when the file has no byte
  // there. This implementation reads the file and sends through Send.
  virtual int64_t SendFileRange(TFileStream& file, int64_t offset, int64_t count);
  // 1 when a read will not block, 0 on timeout, negative error code on failure.
  virtual int WaitReadable(int timeoutMs);
  // Ends the connection and releases the socket.
  virtual void Close() { binding_.Close(); }

  TIdSocketHandle& Binding() { return binding_; }
  const TIdSocketHandle& Binding() const { return binding_; }

  // How long one Recv may wait for the rest of what it needs to return anything (-1: no
  // bound); the connection sets it from its read limits before each read, so a peer that
  // sends part of a TLS record and stops cannot hold the thread.
  void LimitRecvWait(int timeoutMs) { recvWaitMs_ = timeoutMs; }
  // How long a send may wait for the peer to take any byte (-1: no bound); a send that
  // waits longer fails with kSocketTimedOut.
  void LimitSendWait(int timeoutMs) { sendWaitMs_ = timeoutMs; }

 protected:
  int RecvWaitLimit() const { return recvWaitMs_; }
  int SendWaitLimit() const { return sendWaitMs_; }

 private:
  TIdSocketHandle binding_;
  int recvWaitMs_ = -1;
  int sendWaitMs_ = -1;
};

// The plain transport: the socket itself, files sent by the kernel without a copy.
class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  using TIdIOHandler::TIdIOHandler;
  int64_t Recv(void* buffer, size_t length) override;
  int64_t RecvArrived(void* buffer, size_t length) override;
  int64_t Send(const void* data, size_t length, bool moreFollows) override;
  int64_t SendFileRange(TFileStream& file, int64_t offset, int64_t count) override;

 private:
  // True when a send that failed with `result` may be tried again: the socket gave up
  // after its short send slice and has room again within the send bound. Otherwise
  // `result` holds what the send reports.
  bool RoomAfterSlice(int64_t& result);
};

// Makes the per-connection handlers of one listener.
class TIdServerIOHandler {
 public:
  virtual ~TIdServerIOHandler() = default;
  // At every activation (the TLS handler builds its context here); throws to fail it.
  virtual void Init() {}
  // Takes ownership of the accepted socket.
  virtual std::unique_ptr<TIdIOHandler> MakeClientIOHandler(SocketHandle handle,
                                                            const SocketAddress& peer) = 0;
  // True for the handler of the HTTPS listener.
  virtual bool IsTls() const { return false; }
  // Its per-connection handlers take their sockets non-blocking from accept.
  virtual bool NonBlockingSockets() const { return false; }
};

class TIdServerIOHandlerSocket : public TIdServerIOHandler {
 public:
  std::unique_ptr<TIdIOHandler> MakeClientIOHandler(SocketHandle handle,
                                                    const SocketAddress& peer) override;
};

}  // namespace morlak
