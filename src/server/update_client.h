// The client side of the update line protocol: a request of three lines ("MorlakUpdate",
// a command, an argument), reply lines, and raw bytes until the server closes. One
// UpdateClient is one connection. Every wait is bounded by a time-out and ends within a
// few tens of milliseconds once the shared cancel flag is set from another thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace morlak {

constexpr int kUpdatePort = 4995;
constexpr char kUpdateHeaderWord[] = "MorlakUpdate";

struct UpdateTimeouts {
  int connectMs = 5000;   // lookup and connect
  int lineMs = 5000;      // each reply line
  int silenceMs = 30000;  // a download that receives nothing this long is given up
};

enum class ReplyStatus {
  kLine,       // a line ended by LF (a CR before it removed)
  kClosed,     // the server closed first: the text received so far is the line
  kTimedOut,   // no line end within lineMs
  kTooLong,    // more than kMaxReplyLine bytes without a line end
  kFailed,     // socket error
  kCancelled,  // the cancel flag was set
};

class UpdateClient {
 public:
  static constexpr size_t kMaxReplyLine = 16384;

  // `cancel` (may be null) is read by every wait; it must outlive the client.
  explicit UpdateClient(const UpdateTimeouts& timeouts, const std::atomic<bool>* cancel = nullptr);
  ~UpdateClient();
  UpdateClient(const UpdateClient&) = delete;
  UpdateClient& operator=(const UpdateClient&) = delete;

  // Looks the host up and connects; false on any failure, time-out or cancel.
  bool Connect(const std::string& host, int port);
  // Sends the header word, the command and the argument, each followed by CR LF.
  bool SendRequest(std::string_view command, std::string_view argument);
  ReplyStatus ReadLine(std::string& line);
  // Up to `capacity` bytes: the count, 0 when the server has closed, -1 on an error,
  // after silenceMs without data, or on cancel.
  int64_t Receive(char* buffer, size_t capacity);
  void Close();

  bool Cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

 private:
  enum class Wait { kReady, kTimedOut, kFailed, kCancelled };
  // Waits in short slices so that a cancel is seen promptly.
  Wait WaitFor(bool writable, int timeoutMs);
  bool LookUp(const std::string& host, std::string& ip);

  UpdateTimeouts timeouts_;
  const std::atomic<bool>* cancel_;
  SocketHandle socket_ = kInvalidSocket;
  std::string pending_;  // received bytes not yet handed out
  bool closedByServer_ = false;
};

}  // namespace morlak
