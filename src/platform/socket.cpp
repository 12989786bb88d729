#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace morlak {

namespace {

thread_local int t_lastError = 0;

int MapErrno(int e) {
  switch (e) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EAGAIN:
      return kSocketWouldBlock;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return kSocketAddressInUse;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case EPROTO:
    case ECONNABORTED:
      return kSocketConnectionAborted;
    // Writing to a connection the peer has closed or reset.
    case EPIPE:
    case ECONNRESET:
      return kSocketConnectionReset;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return kSocketShutDown;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return e;
  }
}

template <typename T>
T Fail(T result) {
  t_lastError = MapErrno(errno);
  return result;
}

}  // namespace

void SetLastSocketErrorFromErrno(int error) {
  t_lastError = MapErrno(error);
}

namespace {

bool FillAddress(const std::string& ip, int port, sockaddr_in& addr) {
  addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (ip.empty()) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  if (inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) == 1) return true;
  t_lastError = 10049;
  return false;
}

// Dotted decimal, written by hand: the C library's inet_ntop goes through sprintf, a
// noticeable cost on every accepted connection.
void ReadAddress(const sockaddr_in& addr, SocketAddress& out) {
  const uint32_t ip = ntohl(addr.sin_addr.s_addr);
  char text[INET_ADDRSTRLEN];
  char* p = text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned octet = (ip >> shift) & 0xff;
    if (octet >= 100) *p++ = static_cast<char>('0' + octet / 100);
    if (octet >= 10) *p++ = static_cast<char>('0' + octet / 10 % 10);
    *p++ = static_cast<char>('0' + octet % 10);
    if (shift) *p++ = '.';
  }
  out.ip.assign(text, p);
  out.port = ntohs(addr.sin_port);
}

}  // namespace

// sendfile has no flag to suppress SIGPIPE, so a peer that hangs up mid-file would end
// the process; the error code is all the server needs.
void IgnoreBrokenPipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

int LastSocketErrorCode() {
  return t_lastError;
}

const char* SocketErrorText(int code) {
  switch (code) {
    case 10004:
      return "Interrupted system call.";
    case 10009:
      return "Bad file number.";
    case 10013:
      return "Access denied.";
    case 10014:
      return "Bad address.";
    case 10022:
      return "Invalid argument.";
    case 10024:
      return "Too many open files.";
    case 10035:
      return "Operation would block. ";
    case 10036:
      return "Operation now in progress.";
    case 10037:
      return "Operation already in progress.";
    case 10038:
      return "Socket operation on non-socket.";
    case 10039:
      return "Destination address required.";
    case 10040:
      return "Message too long.";
    case 10041:
      return "Protocol wrong type for socket.";
    case 10042:
      return "Bad protocol option.";
    case 10043:
      return "Protocol not supported.";
    case 10044:
      return "Socket type not supported.";
    case 10045:
      return "Operation not supported on socket.";
    case 10046:
      return "Protocol family not supported.";
    case 10047:
      return "Address family not supported by protocol family.";
    case 10048:
      return "Address already in use.";
    case 10049:
      return "Cannot assign requested address.";
    case 10050:
      return "Network is down.";
    case 10051:
      return "Network is unreachable.";
    case 10052:
      return "Net dropped connection or reset.";
    case 10053:
      return "Software caused connection abort.";
    case 10054:
      return "Connection reset by peer.";
    case 10055:
      return "No buffer space available.";
    case 10056:
      return "Socket is already connected.";
    case 10057:
      return "Socket is not connected.";
    case 10058:
      return "Cannot send or receive after socket is closed.";
    case 10059:
      return "Too many references, cannot splice.";
    case 10060:
      return "Connection timed out.";
    case 10061:
      return "Connection refused.";
    case 10062:
      return "Too many levels of symbolic links.";
    case 10063:
      return "File name too long.";
    case 10064:
      return "Host is down.";
    case 10065:
      return "No route to host.";
    case 10066:
      return "Directory not empty";
    case 11001:
      return "Host not found.";
    default:
      return "";
  }
}

std::string SocketErrorMessage(int code) {
  return "Socket Error # " + std::to_string(code) + "\r\n" + SocketErrorText(code);
}

SocketHandle SocketCreateStream() {
  IgnoreBrokenPipe();
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return s < 0 ? Fail(kInvalidSocket) : s;
}

bool SocketSetReuseAddress(SocketHandle s) {
  const int on = 1;
  return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 || Fail(false);
}

bool SocketSetNoDelay(SocketHandle s) {
  const int on = 1;
  return ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 || Fail(false);
}

bool SocketSetDeferAccept(SocketHandle s, int seconds) {
  return ::setsockopt(s, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds) == 0 ||
         Fail(false);
}

bool SocketSetNonBlocking(SocketHandle s, bool nonBlocking) {
  // One call that touches only this flag, where reading and writing the flags takes two.
  int on = nonBlocking ? 1 : 0;
  return ::ioctl(s, FIONBIO, &on) == 0 || Fail(false);
}

bool SocketSetReceiveTimeout(SocketHandle s, int timeoutMs) {
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 || Fail(false);
}

bool SocketSetSendTimeout(SocketHandle s, int timeoutMs) {
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0 || Fail(false);
}

bool SocketSetResetOnClose(SocketHandle s) {
  const linger off{1, 0};
  return ::setsockopt(s, SOL_SOCKET, SO_LINGER, &off, sizeof off) == 0 || Fail(false);
}

bool SocketBind(SocketHandle s, const std::string& ip, int port) {
  sockaddr_in addr;
  if (!FillAddress(ip, port, addr)) return false;
  return ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 || Fail(false);
}

bool SocketListen(SocketHandle s, int backlog) {
  return ::listen(s, backlog) == 0 || Fail(false);
}

bool SocketConnect(SocketHandle s, const std::string& ip, int port) {
  sockaddr_in addr;
  if (!FillAddress(ip, port, addr)) return false;
  while (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    if (errno != EINTR) return Fail(false);
  return true;
}

bool SocketConnectResult(SocketHandle s) {
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return Fail(false);
  if (error == 0) return true;
  errno = error;
  return Fail(false);
}

bool SocketLookupHost(const std::string& host, std::string& ip) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    t_lastError = kSocketHostNotFound;
    return false;
  }
  SocketAddress address;
  ReadAddress(*reinterpret_cast<const sockaddr_in*>(found->ai_addr), address);
  ::freeaddrinfo(found);
  ip = address.ip;
  return true;
}

SocketHandle SocketAccept(SocketHandle listener, SocketAddress& peer, bool nonBlocking) {
  IgnoreBrokenPipe();
  sockaddr_in addr;
  const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
  for (;;) {
    socklen_t len = sizeof addr;
    const int s = ::accept4(listener, reinterpret_cast<sockaddr*>(&addr), &len, flags);
    if (s >= 0) {
      ReadAddress(addr, peer);
      return s;
    }
    if (errno != EINTR) return Fail(kInvalidSocket);
  }
}

bool SocketLocalAddress(SocketHandle s, SocketAddress& local) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return Fail(false);
  ReadAddress(addr, local);
  return true;
}

std::string SocketReverseLookup(const std::string& ip) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) return ip;
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&addr), sizeof addr, host, sizeof host, nullptr, 0,
                    0) != 0)
    return ip;
  return host;
}

namespace {

// Probes that get a reset (a peer system that has dropped the connection) or no answer
// at all end the connection with an error; a peer that only half-closed answers them.
void ProbePeer(SocketHandle s) {
  const int on = 1, idleSeconds = 1, intervalSeconds = 1, probes = 3;
  ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}  // namespace

bool SocketPeerGone(SocketHandle s) {
  if (s == kInvalidSocket) return true;
  pollfd p{s, POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  if (p.revents & POLLRDHUP) ProbePeer(s);
  return false;
}

namespace {

int WaitFor(SocketHandle s, short events, int timeoutMs) {
  pollfd p{s, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (r >= 0) return r > 0 ? 1 : 0;
    if (errno != EINTR) return Fail(-1);
  }
}

}  // namespace

int SocketWaitReadable(SocketHandle s, int timeoutMs) {
  return WaitFor(s, POLLIN, timeoutMs);
}

int SocketWaitWritable(SocketHandle s, int timeoutMs) {
  return WaitFor(s, POLLOUT, timeoutMs);
}

int64_t SocketSend(SocketHandle s, const void* data, size_t length, bool moreFollows) {
  const int flags = MSG_NOSIGNAL | (moreFollows ? MSG_MORE : 0);
  for (;;) {
    const ssize_t n = ::send(s, data, length, flags);
    if (n >= 0) return n;
    if (errno != EINTR) return Fail(int64_t{-1});
  }
}

int64_t SocketRecv(SocketHandle s, void* buffer, size_t length, bool dontWait) {
  for (;;) {
    const ssize_t n = ::recv(s, buffer, length, dontWait ? MSG_DONTWAIT : 0);
    if (n >= 0) return n;
    if (errno != EINTR) return Fail(int64_t{-1});
  }
}

int64_t SocketSendFile(SocketHandle s, int fileHandle, int64_t offset, int64_t count) {
  // One call moves at most about 2 GB; callers loop.
  constexpr int64_t kMaxChunk = int64_t{1} << 30;
  off_t pos = static_cast<off_t>(offset);
  for (;;) {
    const ssize_t n =
        ::sendfile(s, fileHandle, &pos, static_cast<size_t>(std::min(count, kMaxChunk)));
    if (n >= 0) return n;
    if (errno != EINTR) return Fail(int64_t{-1});
  }
}

void SocketShutdownSend(SocketHandle s) {
  ::shutdown(s, SHUT_WR);
}

void SocketShutdownBoth(SocketHandle s) {
  ::shutdown(s, SHUT_RDWR);
}

void SocketClose(SocketHandle s) {
  ::close(s);
}

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace morlak
