#include "engine/tls_io_handler.h"

#include <openssl/err.h>

#include <chrono>
#include <climits>

namespace morlak {

namespace {

// Collected records beyond this size are sent without waiting for the operation's end.
constexpr size_t kRecordsFlushSize = 65536;
// The most plaintext one record carries.
constexpr size_t kHeldPlainSize = 16384;

int ClampLength(size_t length) {
  return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

}  // namespace

// OpenSSL's records are collected in the handler and leave through the platform's socket
// calls, so a hang-up never raises SIGPIPE, errors keep the engine's codes, and records
// written together leave together.
struct TlsSocketBio {
  static BIO_METHOD* Method() {
    static BIO_METHOD* method = [] {
      BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "morlak socket");
      if (m) {
        BIO_meth_set_write(m, Write);
        BIO_meth_set_read(m, Read);
        BIO_meth_set_ctrl(m, Ctrl);
      }
      return m;
    }();
    return method;
  }

  static TIdSSLIOHandlerSocket& Owner(BIO* bio) {
    return *static_cast<TIdSSLIOHandlerSocket*>(BIO_get_data(bio));
  }

  static int Write(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    auto& owner = Owner(bio);
    owner.records_.append(data, static_cast<size_t>(length));
    if (owner.records_.size() >= kRecordsFlushSize &&
        !owner.FlushRecords(true, owner.SendWaitLimit()))
      return -1;
    return length;
  }

  static int Read(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    auto& owner = Owner(bio);
    const int64_t n = SocketRecv(owner.Binding().Handle(), buffer, static_cast<size_t>(length));
    if (n >= 0) return static_cast<int>(n);
    const int code = LastSocketErrorCode();
    if (code == kSocketWouldBlock)
      BIO_set_retry_read(bio);
    else
      owner.lastSocketError_ = code;
    return -1;
  }

  static long Ctrl(BIO* bio, int command, long, void*) {
    if (command != BIO_CTRL_FLUSH) return 0;
    auto& owner = Owner(bio);
    // Handshake flights leave at once (bounded by the handshake time); a send operation
    // sends its records itself when it is done. The session ticket after a TLS 1.3
    // handshake, which the client does not wait for, leaves with the first answer when the
    // request came with the client's last flight; otherwise sending it now gives the
    // request time to arrive before the first read.
    if (owner.holdFlush_ ||
        (SSL_get_state(owner.ssl_) == TLS_ST_SW_SESSION_TICKET && SSL_has_pending(owner.ssl_)))
      return 1;
    return owner.FlushRecords(false, owner.handshakeTimeoutMs_) ? 1 : 0;
  }
};

TIdSSLIOHandlerSocket::TIdSSLIOHandlerSocket(SocketHandle handle, SocketAddress peer,
                                             std::shared_ptr<const TIdSSLContext> context,
                                             int handshakeTimeoutMs)
    : TIdIOHandler(handle, std::move(peer)),
      context_(std::move(context)),
      handshakeTimeoutMs_(handshakeTimeoutMs) {}

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() {
  if (ssl_) SSL_free(ssl_);
}

int TIdSSLIOHandlerSocket::AfterAccept() {
  using Clock = std::chrono::steady_clock;
  auto refuse = [] {
    // The queue is per thread and the thread serves other connections next.
    ERR_clear_error();
    throw EIdException("Error accepting connection with SSL.");
  };
  if (!ssl_) {
    ssl_ = SSL_new(context_->Handle());
    if (!ssl_) refuse();
    if (SSL_set_app_data(ssl_, this) != 1) {
      ERR_clear_error();
      throw EIdException("Error binding data to SSL socket.");
    }
    BIO* bio = TlsSocketBio::Method() ? BIO_new(TlsSocketBio::Method()) : nullptr;
    if (!bio) refuse();
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_, bio, bio);
    handshakeDeadline_ = Clock::now() + std::chrono::milliseconds(handshakeTimeoutMs_);
  }
  for (;;) {
    const int r = SSL_accept(ssl_);
    if (r == 1) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(handshakeDeadline_ - Clock::now())
            .count();
    if (left <= 0) refuse();
    if (SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ) {
      // The client's next flight takes at least a round trip: the connection waits for it
      // in its listener's readiness set, and this thread serves others meanwhile.
      if (!records_.empty() && !FlushRecords(false, static_cast<int>(left))) refuse();
      return static_cast<int>(left);
    }
    int64_t ignored;
    if (!WaitForRetry(r, static_cast<int>(left), ignored)) refuse();
  }
  if (context_->HasStatusHandler()) ReportCipher();
  return 0;
}

bool TIdSSLIOHandlerSocket::FlushRecords(bool moreFollows, int timeoutMs) {
  size_t sent = 0;
  bool ok = true;
  while (sent < records_.size()) {
    const SocketHandle s = Binding().Handle();
    const int64_t n = SocketSend(s, records_.data() + sent, records_.size() - sent, moreFollows);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    int code = LastSocketErrorCode();
    if (code == kSocketWouldBlock) {
      const int ready = SocketWaitWritable(s, timeoutMs);
      if (ready > 0) continue;
      code = ready == 0 ? kSocketTimedOut : LastSocketErrorCode();
    }
    lastSocketError_ = code;
    ok = false;
    break;
  }
  records_.erase(0, sent);
  return ok;
}

void TIdSSLIOHandlerSocket::ReportCipher() {
  const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_);
  if (!cipher) return;
  char description[256] = {};
  SSL_CIPHER_description(cipher, description, sizeof description);
  context_->StatusInfo(std::string("Cipher: name = ") + SSL_CIPHER_get_name(cipher) + "; " +
                       "description = " + description + "; " +
                       "bits = " + std::to_string(SSL_CIPHER_get_bits(cipher, nullptr)) + "; " +
                       "version = " + SSL_CIPHER_get_version(cipher) + "; ");
}

bool TIdSSLIOHandlerSocket::WaitForRetry(int sslResult, int timeoutMs, int64_t& result) {
  const SocketHandle s = Binding().Handle();
  int ready;
  switch (SSL_get_error(ssl_, sslResult)) {
    case SSL_ERROR_WANT_READ:
      // Whatever is still collected may be what the peer waits for before it answers.
      if (!records_.empty() && !FlushRecords(false, timeoutMs)) {
        result = -lastSocketError_;
        return false;
      }
      ready = s == kInvalidSocket ? -1 : SocketWaitReadable(s, timeoutMs);
      break;
    case SSL_ERROR_WANT_WRITE:
      ready = s == kInvalidSocket ? -1 : SocketWaitWritable(s, timeoutMs);
      break;
    case SSL_ERROR_ZERO_RETURN:
      result = 0;
      return false;
    case SSL_ERROR_SYSCALL:
      // A socket error, or the peer closing in the middle of a record.
      ERR_clear_error();
      SSL_set_quiet_shutdown(ssl_, 1);
      result = lastSocketError_ ? -lastSocketError_ : 0;
      return false;
    default:
      ERR_clear_error();
      SSL_set_quiet_shutdown(ssl_, 1);
      result = -kSocketConnectionAborted;
      return false;
  }
  if (ready > 0) return true;
  if (ready == 0)
    result = -kSocketTimedOut;
  else
    result = s == kInvalidSocket ? -kSocketShutDown : -LastSocketErrorCode();
  return false;
}

int64_t TIdSSLIOHandlerSocket::Recv(void* buffer, size_t length) {
  if (!ssl_) {
    for (;;) {
      const int64_t n = SocketRecv(Binding().Handle(), buffer, length);
      if (n >= 0) return n;
      if (LastSocketErrorCode() != kSocketWouldBlock) return -LastSocketErrorCode();
      const int ready = SocketWaitReadable(Binding().Handle(), RecvWaitLimit());
      if (ready <= 0) return ready == 0 ? -kSocketTimedOut : -LastSocketErrorCode();
    }
  }
  // The peer may be waiting for what is held before it says more.
  if (!held_.empty()) {
    if (const int64_t result = WriteHeld(false); result < 0) return result;
  }
  for (;;) {
    const int n = SSL_read(ssl_, buffer, ClampLength(length));
    if (n > 0) return n;
    int64_t result;
    if (!WaitForRetry(n, RecvWaitLimit(), result)) return result;
  }
}

int64_t TIdSSLIOHandlerSocket::RecvArrived(void* buffer, size_t length) {
  if (!ssl_) return -kSocketWouldBlock;
  if (!held_.empty()) {
    if (const int64_t result = WriteHeld(false); result < 0) return result;
  }
  const int n = SSL_read(ssl_, buffer, ClampLength(length));
  if (n > 0) return n;
  const int error = SSL_get_error(ssl_, n);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
    return FlushBeforeWait() ? -kSocketWouldBlock : -lastSocketError_;
  int64_t result = -kSocketConnectionAborted;
  WaitForRetry(n, 0, result);
  return result;
}

int64_t TIdSSLIOHandlerSocket::Send(const void* data, size_t length, bool moreFollows) {
  if (!ssl_) {
    for (;;) {
      const int64_t n = SocketSend(Binding().Handle(), data, length, moreFollows);
      if (n >= 0) return n;
      if (LastSocketErrorCode() != kSocketWouldBlock) return -LastSocketErrorCode();
      const int ready = SocketWaitWritable(Binding().Handle(), SendWaitLimit());
      if (ready <= 0) return ready == 0 ? -kSocketTimedOut : -LastSocketErrorCode();
    }
  }
  const char* bytes = static_cast<const char*>(data);
  if (held_.size() + length <= kHeldPlainSize) {
    held_.append(bytes, length);
    if (moreFollows) return static_cast<int64_t>(length);
    const int64_t result = WriteHeld(false);
    return result < 0 ? result : static_cast<int64_t>(length);
  }
  if (const int64_t result = WriteHeld(true); result < 0) return result;
  return WriteRecords(bytes, length, moreFollows);
}

int64_t TIdSSLIOHandlerSocket::SendLast(const void* data, size_t length) {
  if (!CloseNotifyDue()) return Send(data, length, false);
  const int64_t sent = Send(data, length, true);
  if (sent < 0) return sent;
  if (const int64_t result = WriteHeld(true); result < 0) return result;
  // Close sends none after this.
  CollectCloseNotify();
  return FlushRecords(false, SendWaitLimit()) ? sent : -lastSocketError_;
}

bool TIdSSLIOHandlerSocket::CloseNotifyDue() const {
  return ssl_ && SSL_is_init_finished(ssl_) && !SSL_get_quiet_shutdown(ssl_) &&
         !(SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN);
}

void TIdSSLIOHandlerSocket::CollectCloseNotify() {
  holdFlush_ = true;
  // close_notify, without waiting for the peer's
  if (SSL_shutdown(ssl_) < 0) ERR_clear_error();
  holdFlush_ = false;
}

int64_t TIdSSLIOHandlerSocket::WriteHeld(bool moreFollows) {
  size_t written = 0;
  while (written < held_.size()) {
    const int64_t n = WriteRecords(held_.data() + written, held_.size() - written, moreFollows);
    if (n < 0) {
      held_.clear();
      return n;
    }
    written += static_cast<size_t>(n);
  }
  held_.clear();
  return 0;
}

int64_t TIdSSLIOHandlerSocket::WriteRecords(const char* data, size_t length, bool moreFollows) {
  holdFlush_ = true;
  int64_t result;
  for (;;) {
    const int n = SSL_write(ssl_, data, ClampLength(length));
    if (n > 0) {
      result = n;
      break;
    }
    // A send never reports 0 bytes: the peer closing is an error for a writer.
    if (!WaitForRetry(n, SendWaitLimit(), result)) {
      if (result >= 0) result = -kSocketShutDown;
      break;
    }
  }
  holdFlush_ = false;
  if (result > 0 && !moreFollows && !FlushRecords(false, SendWaitLimit()))
    result = -lastSocketError_;
  return result;
}

int TIdSSLIOHandlerSocket::WaitReadable(int timeoutMs) {
  // Records already received and decrypted do not show on the socket.
  if (ssl_ && !held_.empty() && WriteHeld(false) < 0) return -1;
  if (!FlushBeforeWait()) return -lastSocketError_;
  if (ssl_ && SSL_has_pending(ssl_)) return 1;
  return TIdIOHandler::WaitReadable(timeoutMs);
}

void TIdSSLIOHandlerSocket::Close() {
  if (ssl_) {
    // Collected with the close_notify and sent in the one attempt below.
    if (!held_.empty()) WriteHeld(true);
    if (CloseNotifyDue()) CollectCloseNotify();
    // One attempt: a peer that does not read gets no more of this thread's time.
    FlushRecords(false, 0);
    SSL_free(ssl_);
    ssl_ = nullptr;
    ERR_clear_error();
  }
  TIdIOHandler::Close();
}

void TIdServerIOHandlerSSL::Init() {
  context_.reset();
  context_ = std::make_shared<const TIdSSLContext>(
      SSLOptions, TIdSSLEvents{OnGetPassword, OnVerifyPeer, OnStatusInfo}, true);
}

std::unique_ptr<TIdIOHandler> TIdServerIOHandlerSSL::MakeClientIOHandler(
    SocketHandle handle, const SocketAddress& peer) {
  // Init runs at every activation, before the first accept.
  if (!context_) throw EIdException("Error creating SSL context.");
  return std::make_unique<TIdSSLIOHandlerSocket>(handle, peer, context_, HandshakeTimeout);
}

}  // namespace morlak
