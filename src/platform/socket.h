// Stream sockets over IPv4. Every call retries on EINTR; a failing call returns -1 (or
// false) and leaves its reason in LastSocketErrorCode(), a code of the 100xx family the
// engine reports ("Socket Error # 10054\r\nConnection reset by peer.").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morlak {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// Codes the engine treats specially.
constexpr int kSocketAccessDenied = 10013;
constexpr int kSocketWouldBlock = 10035;
constexpr int kSocketAddressInUse = 10048;
constexpr int kSocketConnectionAborted = 10053;
constexpr int kSocketConnectionReset = 10054;
constexpr int kSocketShutDown = 10058;
constexpr int kSocketTimedOut = 10060;
constexpr int kSocketConnectInProgress = 10036;
constexpr int kSocketHostNotFound = 11001;

// The code of the calling thread's last failed socket call.
int LastSocketErrorCode();
// Records a system error number as the calling thread's last socket error, for socket
// facilities outside this file.
void SetLastSocketErrorFromErrno(int error);
// The text of a code from the table; empty for any other code.
const char* SocketErrorText(int code);
// "Socket Error # <code>\r\n<text>".
std::string SocketErrorMessage(int code);

// Makes writes to a closed socket or pipe fail with an error instead of ending the process
// with SIGPIPE; once for the whole process.
void IgnoreBrokenPipe();

struct SocketAddress {
  std::string ip;
  int port = 0;
};

// A blocking stream socket, closed on exec.
SocketHandle SocketCreateStream();
bool SocketSetReuseAddress(SocketHandle s);
bool SocketSetNoDelay(SocketHandle s);
bool SocketSetNonBlocking(SocketHandle s, bool nonBlocking);
// A blocking receive or accept that waits longer fails with kSocketWouldBlock.
bool SocketSetReceiveTimeout(SocketHandle s, int timeoutMs);
// A blocking send or file send that can hand the kernel no byte for that long fails with
// kSocketWouldBlock (0: no limit). Accepted sockets inherit it from their listener.
bool SocketSetSendTimeout(SocketHandle s, int timeoutMs);
// Makes the next close reset the connection and drop what is still queued, so a peer
// that stopped reading does not keep the queued bytes in the kernel.
bool SocketSetResetOnClose(SocketHandle s);
// A listener hands a connection to accept only once its first data has arrived (or
// after about `seconds` for a client that stays silent), so the accepting thread does
// not block again at once waiting for the request.
bool SocketSetDeferAccept(SocketHandle s, int seconds);
// An empty ip binds all local addresses; port 0 lets the system choose.
bool SocketBind(SocketHandle s, const std::string& ip, int port);
bool SocketListen(SocketHandle s, int backlog);
// On a non-blocking socket a connect that cannot finish at once fails with code 10036;
// SocketWaitWritable then waits for it and SocketConnectResult tells how it ended.
bool SocketConnect(SocketHandle s, const std::string& ip, int port);
bool SocketConnectResult(SocketHandle s);
// The first IPv4 address of a host name or dotted address (a blocking lookup); false
// with code 11001 when the name is unknown.
bool SocketLookupHost(const std::string& host, std::string& ip);
// The accepted socket is blocking whatever the listener is, unless `nonBlocking` asks
// otherwise. Several threads may wait in accept on one listener; each connection wakes
// only one of them.
SocketHandle SocketAccept(SocketHandle listener, SocketAddress& peer, bool nonBlocking = false);
bool SocketLocalAddress(SocketHandle s, SocketAddress& local);
// The host name of an IPv4 address by reverse lookup; the address itself when the lookup
// finds no name.
std::string SocketReverseLookup(const std::string& ip);
// True when the peer has reset the connection, or it was shut down here. A peer's end of
// its sending side is no end: a half-close and a full close look alike until something is
// sent, so the connection is then probed (keep-alive), and counts as gone once the peer's
// system answers with a reset (after a full close, once it has dropped its end: about a
// minute) or not at all (a few seconds). A waiting byte of the peer's does not count.
// Never blocks.
bool SocketPeerGone(SocketHandle s);

// 1 when readable (or closed or failed, so a read will not block), 0 on timeout, -1 on
// error. A negative timeout waits without limit.
int SocketWaitReadable(SocketHandle s, int timeoutMs);
// The same for room to send.
int SocketWaitWritable(SocketHandle s, int timeoutMs);

// Bytes moved (0 from recv: the peer closed), or -1.
int64_t SocketSend(SocketHandle s, const void* data, size_t length, bool moreFollows);
// With `dontWait` it takes only what has arrived; nothing there fails with kSocketWouldBlock.
int64_t SocketRecv(SocketHandle s, void* buffer, size_t length, bool dontWait = false);
// Sends up to `count` bytes of the open file `fileHandle` from `offset` without copying
// them through user space; 0 when the file ends before the offset.
int64_t SocketSendFile(SocketHandle s, int fileHandle, int64_t offset, int64_t count);

void SocketShutdownSend(SocketHandle s);
// Ends both directions so that reads, writes and accepts blocked in other threads return.
void SocketShutdownBoth(SocketHandle s);
void SocketClose(SocketHandle s);

// The machine's own host name; "localhost" when the system has none.
std::string LocalHostName();

}  // namespace morlak
