#include "engine/io_handler.h"

#include <algorithm>

#include "platform/stream.h"

namespace morlak {

namespace {}  // namespace

TIdSocketHandle::TIdSocketHandle(SocketHandle handle, SocketAddress peer)
    : handle_(handle), peer_(std::move(peer)) {}

TIdSocketHandle::~TIdSocketHandle() {
  Close();
}

void TIdSocketHandle::Close() {
  std::lock_guard lock(mutex_);
  const SocketHandle h = handle_.exchange(kInvalidSocket);
  if (h == kInvalidSocket) return;
  SocketShutdownSend(h);
  SocketClose(h);
}

void TIdSocketHandle::Interrupt() {
  std::lock_guard lock(mutex_);
  const SocketHandle h = Handle();
  if (h != kInvalidSocket) SocketShutdownBoth(h);
}

int64_t TIdIOHandler::SendFileRange(TFileStream& file, int64_t offset, int64_t count) {
  char buffer[32768];
  file.Seek(offset);
  const size_t n = file.Read(buffer, static_cast<size_t>(std::min<int64_t>(count, sizeof buffer)));
  int64_t sent = 0;
  while (sent < static_cast<int64_t>(n)) {
    const int64_t r = Send(buffer + sent, n - static_cast<size_t>(sent), false);
    if (r < 0) return r;
    sent += r;
  }
  return sent;
}

int TIdIOHandler::WaitReadable(int timeoutMs) {
  const int r = SocketWaitReadable(binding_.Handle(), timeoutMs);
  return r >= 0 ? r : -LastSocketErrorCode();
}

int64_t TIdIOHandlerSocket::Recv(void* buffer, size_t length) {
  // An accepted socket keeps the listener's idle timeout, but a connection waits for its
  // peer without limit (read timeouts are waited for before the call).
  for (;;) {
    const int64_t n = SocketRecv(Binding().Handle(), buffer, length);
    if (n >= 0) return n;
    if (LastSocketErrorCode() != kSocketWouldBlock) return -LastSocketErrorCode();
  }
}

int64_t TIdIOHandlerSocket::RecvArrived(void* buffer, size_t length) {
  const int64_t n = SocketRecv(Binding().Handle(), buffer, length, true);
  return n >= 0 ? n : -LastSocketErrorCode();
}

bool TIdIOHandlerSocket::RoomAfterSlice(int64_t& result) {
  if (result >= 0) return false;
  const int code = LastSocketErrorCode();
  if (code != kSocketWouldBlock) {
    result = -code;
    return false;
  }
  const int ready = SocketWaitWritable(Binding().Handle(), SendWaitLimit());
  if (ready > 0) return true;
  result = ready == 0 ? -kSocketTimedOut : -LastSocketErrorCode();
  return false;
}

int64_t TIdIOHandlerSocket::Send(const void* data, size_t length, bool moreFollows) {
  int64_t n;
  do {
    n = SocketSend(Binding().Handle(), data, length, moreFollows);
  } while (RoomAfterSlice(n));
  return n;
}

int64_t TIdIOHandlerSocket::SendFileRange(TFileStream& file, int64_t offset, int64_t count) {
  int64_t n;
  do {
    n = SocketSendFile(Binding().Handle(), file.Handle(), offset, count);
  } while (RoomAfterSlice(n));
  return n;
}

std::unique_ptr<TIdIOHandler> TIdServerIOHandlerSocket::MakeClientIOHandler(
    SocketHandle handle, const SocketAddress& peer) {
  return std::make_unique<TIdIOHandlerSocket>(handle, peer);
}

}  // namespace morlak
