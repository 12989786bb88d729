// A set of sockets watched for input by any number of waiting threads (epoll). A socket is
// either armed once at a time (reported once per arming, to exactly one waiter) or watched
// for good (reported once for every arrival, to one waiter each time). Reports carry the
// token given for the socket, never 0.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace morlak {

class ReadinessSet {
 public:
  // Most tokens one wait hands out.
  static constexpr int kMaxBatch = 32;

  // Fails with std::system_error when the system gives no set.
  ReadinessSet();
  ~ReadinessSet();
  ReadinessSet(const ReadinessSet&) = delete;
  ReadinessSet& operator=(const ReadinessSet&) = delete;

  // Watches the socket until it has input, a hang-up or an error, then reports `token`
  // once. `added` tells whether the socket is in the set already (it leaves the set by
  // itself when it is closed). False with LastSocketErrorCode() on failure.
  bool ArmOnce(SocketHandle s, uint64_t token, bool added);
  // Reports `token` whenever input, a hang-up or an error arrives on the socket (once at
  // once for what has arrived already), until the socket is closed. `added`: the socket is
  // in the set already, armed once. False with LastSocketErrorCode() on failure.
  bool Watch(SocketHandle s, uint64_t token, bool added);
  // Waits up to `timeoutMs` for reported sockets and stores the tokens of up to
  // `kMaxBatch` of them in `tokens`; returns how many. 0 on timeout, or when Wake ended
  // the wait.
  int WaitSome(uint64_t tokens[kMaxBatch], int timeoutMs);
  // Ends the wait of one waiting thread (or the next wait, when none waits). False with
  // LastSocketErrorCode() on failure.
  bool Wake();

 private:
  int handle_;
  int wakeHandle_;
};

}  // namespace morlak
