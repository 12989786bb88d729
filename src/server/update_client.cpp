#include "server/update_client.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace morlak {

namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait between two looks at the cancel flag.
constexpr int kSliceMs = 50;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// A name lookup cannot be interrupted, so it runs on a thread of its own that the
// client may leave behind when it gives up; the thread then finishes alone.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool found = false;
  std::string ip;
};

}  // namespace

UpdateClient::UpdateClient(const UpdateTimeouts& timeouts, const std::atomic<bool>* cancel)
    : timeouts_(timeouts), cancel_(cancel) {}

UpdateClient::~UpdateClient() {
  Close();
}

void UpdateClient::Close() {
  if (socket_ != kInvalidSocket) SocketClose(socket_);
  socket_ = kInvalidSocket;
  pending_.clear();
  closedByServer_ = false;
}

UpdateClient::Wait UpdateClient::WaitFor(bool writable, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (Cancelled()) return Wait::kCancelled;
    const int left = MsLeft(deadline);
    const int slice = std::min(left, kSliceMs);
    const int r =
        writable ? SocketWaitWritable(socket_, slice) : SocketWaitReadable(socket_, slice);
    if (r > 0) return Wait::kReady;
    if (r < 0) return Wait::kFailed;
    if (left <= kSliceMs) return Wait::kTimedOut;
  }
}

bool UpdateClient::LookUp(const std::string& host, std::string& ip) {
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host] {
    std::string found;
    const bool ok = SocketLookupHost(host, found);
    std::lock_guard lock(lookup->mutex);
    lookup->found = ok;
    lookup->ip = std::move(found);
    lookup->finished = true;
    lookup->done.notify_all();
  }).detach();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts_.connectMs);
  std::unique_lock lock(lookup->mutex);
  while (!lookup->finished) {
    if (Cancelled() || Clock::now() >= deadline) return false;
    lookup->done.wait_for(lock, std::chrono::milliseconds(kSliceMs));
  }
  ip = lookup->ip;
  return lookup->found;
}

bool UpdateClient::Connect(const std::string& host, int port) {
  Close();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts_.connectMs);
  std::string ip;
  if (!LookUp(host, ip)) return false;
  socket_ = SocketCreateStream();
  if (socket_ == kInvalidSocket) return false;
  if (!SocketSetNonBlocking(socket_, true)) return false;
  if (SocketConnect(socket_, ip, port)) return true;
  if (LastSocketErrorCode() != kSocketConnectInProgress) return false;
  return WaitFor(true, MsLeft(deadline)) == Wait::kReady && SocketConnectResult(socket_);
}

bool UpdateClient::SendRequest(std::string_view command, std::string_view argument) {
  std::string request;
  request.reserve(sizeof kUpdateHeaderWord + command.size() + argument.size() + 6);
  request.append(kUpdateHeaderWord).append("\r\n");
  request.append(command).append("\r\n");
  request.append(argument).append("\r\n");
  size_t sent = 0;
  while (sent < request.size()) {
    const int64_t n = SocketSend(socket_, request.data() + sent, request.size() - sent, false);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || LastSocketErrorCode() != kSocketWouldBlock) return false;
    if (WaitFor(true, timeouts_.lineMs) != Wait::kReady) return false;
  }
  return true;
}

ReplyStatus UpdateClient::ReadLine(std::string& line) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts_.lineMs);
  size_t scanned = 0;
  char buffer[4096];
  for (;;) {
    const size_t lf = pending_.find('\n', scanned);
    if (lf != std::string::npos) {
      const size_t end = lf > 0 && pending_[lf - 1] == '\r' ? lf - 1 : lf;
      if (end > kMaxReplyLine) return ReplyStatus::kTooLong;
      line.assign(pending_, 0, end);
      pending_.erase(0, lf + 1);
      return ReplyStatus::kLine;
    }
    scanned = pending_.size();
    if (pending_.size() > kMaxReplyLine) return ReplyStatus::kTooLong;
    if (closedByServer_) {
      line = std::move(pending_);
      pending_.clear();
      return ReplyStatus::kClosed;
    }
    const int64_t n = SocketRecv(socket_, buffer, sizeof buffer);
    if (n > 0) {
      pending_.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      closedByServer_ = true;
    } else if (LastSocketErrorCode() != kSocketWouldBlock) {
      return ReplyStatus::kFailed;
    } else {
      switch (WaitFor(false, MsLeft(deadline))) {
        case Wait::kReady:
          break;
        case Wait::kTimedOut:
          return ReplyStatus::kTimedOut;
        case Wait::kFailed:
          return ReplyStatus::kFailed;
        case Wait::kCancelled:
          return ReplyStatus::kCancelled;
      }
    }
  }
}

int64_t UpdateClient::Receive(char* buffer, size_t capacity) {
  if (!pending_.empty()) {
    const size_t n = std::min(capacity, pending_.size());
    pending_.copy(buffer, n);
    pending_.erase(0, n);
    return static_cast<int64_t>(n);
  }
  if (closedByServer_) return 0;
  for (;;) {
    const int64_t n = SocketRecv(socket_, buffer, capacity);
    if (n >= 0) {
      closedByServer_ = n == 0;
      return n;
    }
    if (LastSocketErrorCode() != kSocketWouldBlock) return -1;
    if (WaitFor(false, timeouts_.silenceMs) != Wait::kReady) return -1;
  }
}

}  // namespace morlak
