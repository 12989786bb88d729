// Holds one direction of a connection to a rate in bytes per second: a token bucket that
// starts with a burst, so a short page or request leaves at once, and refills at the rate. A
// connection without a limit has no pacer at all, so an unlimited transfer pays nothing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace morlak {

class TransferPacer {
 public:
  // What may move at once at the start.
  static constexpr int64_t kBurstBytes = 32768;
  // A wait lasts about a tick (longer only below 10 bytes a second, where one byte takes
  // that long), so the thread notices a closed connection soon.
  static constexpr int kTicksPerSecond = 10;

  explicit TransferPacer(int64_t bytesPerSecond);

  // Waits until some of `wanted` may move and answers how much (1 to `wanted`).
  size_t Allow(size_t wanted);
  int64_t Rate() const { return rate_; }
  // Charges what really moved.
  void Spend(int64_t moved) { credit_ -= static_cast<double>(moved); }

 private:
  void Refill(std::chrono::steady_clock::time_point now);

  int64_t rate_;
  int64_t tick_;     // a tick's worth of bytes, at least 1: the least a wait waits for
  double capacity_;  // the burst and half a second: a thread that wakes late loses nothing
  double credit_;
  std::chrono::steady_clock::time_point refilled_;
};

}  // namespace morlak
