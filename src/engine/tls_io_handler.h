// The TLS transport of the HTTPS listener. The server handler builds one OpenSSL context
// at every activation; each accepted connection gets a per-connection handler sharing it,
// which runs the handshake before anything else of the connection and then carries every
// receive and send through TLS, below the unchanged line reader.
// TIdServerIOHandlerSSL is the listener's handler, TIdSSLIOHandlerSocket one connection's.
#pragma once

#include <chrono>
#include <memory>

#include "engine/io_handler.h"
#include "engine/tls_context.h"

namespace morlak {

class TIdSSLIOHandlerSocket : public TIdIOHandler {
 public:
  TIdSSLIOHandlerSocket(SocketHandle handle, SocketAddress peer,
                        std::shared_ptr<const TIdSSLContext> context, int handshakeTimeoutMs);
  ~TIdSSLIOHandlerSocket() override;

  // The handshake, bounded by the handshake time as a whole; fails with "Error accepting
  // connection with SSL." (the connection then closes without a reply). Each wait for the
  // client's next flight is left to the caller, so a handshake holds no thread meanwhile.
  int AfterAccept() override;
  // Before the handshake (a client refused for the connection limit) these use the plain
  // socket, waiting within the receive and send bounds.
  int64_t Recv(void* buffer, size_t length) override;
  // What OpenSSL holds decrypted or can decrypt from what has arrived, without a wait.
  int64_t RecvArrived(void* buffer, size_t length) override;
  // OpenSSL may hold a record the socket no longer shows, and held answer bytes go out on
  // the look; a client's next request also often follows the answer at once.
  bool LooksForInputBeforeWait() const override { return true; }
  int64_t Send(const void* data, size_t length, bool moreFollows) override;
  // The close_notify leaves in the same send as the last records.
  int64_t SendLast(const void* data, size_t length) override;
  int WaitReadable(int timeoutMs) override;
  // Sends close_notify, frees the TLS state, closes the socket.
  void Close() override;

  SSL* Handle() const { return ssl_; }

 private:
  friend struct TlsSocketBio;
  // Waits for what OpenSSL asked for; false when the error is another one or the wait
  // failed (then `result` holds the value to report).
  bool WaitForRetry(int sslResult, int timeoutMs, int64_t& result);
  // Sends the records collected so far, waiting up to `timeoutMs` (-1: no limit) for room;
  // false on a socket error or timeout (the code is in lastSocketError_).
  bool FlushRecords(bool moreFollows, int timeoutMs);
  // A close_notify is still to be sent: the handshake is done and none went out yet.
  bool CloseNotifyDue() const;
  // Adds the close_notify to the records collected for the next flush.
  void CollectCloseNotify();
  // Before a wait for the peer, which may be waiting for them.
  bool FlushBeforeWait() { return records_.empty() || FlushRecords(false, SendWaitLimit()); }
  // Encrypts and sends (or collects) `length` bytes; the result as Send reports it.
  int64_t WriteRecords(const char* data, size_t length, bool moreFollows);
  // Writes the held plaintext; 0 or a negative error code.
  int64_t WriteHeld(bool moreFollows);
  void ReportCipher();

  std::shared_ptr<const TIdSSLContext> context_;
  const int handshakeTimeoutMs_;
  std::chrono::steady_clock::time_point handshakeDeadline_;
  SSL* ssl_ = nullptr;
  // Records OpenSSL has written and not yet sent: a header sent with more to follow leaves
  // with its body in one system call, the session ticket with the first answer.
  std::string records_;
  // Plaintext sent with more to follow and not yet encrypted: a header and a small body
  // share one record, which costs the peer one decryption instead of two.
  std::string held_;
  bool holdFlush_ = false;   // a send operation is collecting records
  int lastSocketError_ = 0;  // of the socket call that failed last
};

class TIdServerIOHandlerSSL : public TIdServerIOHandler {
 public:
  TIdSSLOptions SSLOptions;
  TPasswordEvent OnGetPassword;
  TVerifyPeerEvent OnVerifyPeer;
  TCallbackEvent OnStatusInfo;
  // A client that has not completed its handshake within this time is dropped.
  int HandshakeTimeout = 5000;  // ms

  // Builds a fresh context from the current options and handlers, so changed files take
  // effect at every activation; connections of an earlier activation keep theirs.
  void Init() override;
  std::unique_ptr<TIdIOHandler> MakeClientIOHandler(SocketHandle handle,
                                                    const SocketAddress& peer) override;
  bool IsTls() const override { return true; }
  // Every wait of a connection has a time limit, so a client that stops in the middle of
  // its hello or of a record cannot keep a thread.
  bool NonBlockingSockets() const override { return true; }
  std::shared_ptr<const TIdSSLContext> Context() const { return context_; }

 private:
  // Replaced only while the listener is inactive.
  std::shared_ptr<const TIdSSLContext> context_;
};

}  // namespace morlak
