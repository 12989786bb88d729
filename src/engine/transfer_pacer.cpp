#include "engine/transfer_pacer.h"

#include <algorithm>
#include <thread>

namespace morlak {

TransferPacer::TransferPacer(int64_t bytesPerSecond)
    : rate_(std::max<int64_t>(bytesPerSecond, 1)),
      tick_(std::max<int64_t>(rate_ / kTicksPerSecond, 1)),
      capacity_(static_cast<double>(kBurstBytes + kTicksPerSecond / 2 * tick_)),
      credit_(static_cast<double>(kBurstBytes)),
      refilled_(std::chrono::steady_clock::now()) {}

void TransferPacer::Refill(std::chrono::steady_clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - refilled_).count();
  credit_ = std::min(credit_ + seconds * static_cast<double>(rate_), capacity_);
  refilled_ = now;
}

size_t TransferPacer::Allow(size_t wanted) {
  Refill(std::chrono::steady_clock::now());
  // Waiting for a whole tick rather than one byte keeps the slices, and so the system
  // calls, few; the room above a tick in the bucket makes up for a late wake-up.
  const double needed = static_cast<double>(std::min<int64_t>(static_cast<int64_t>(wanted), tick_));
  if (credit_ < needed) {
    std::this_thread::sleep_for(
        std::chrono::duration<double>((needed - credit_) / static_cast<double>(rate_)));
    Refill(std::chrono::steady_clock::now());
  }
  const double granted = std::clamp(credit_, 1.0, static_cast<double>(wanted));
  return static_cast<size_t>(granted);
}

}  // namespace morlak
