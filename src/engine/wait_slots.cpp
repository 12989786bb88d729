#include "engine/wait_slots.h"

#include <stdexcept>

namespace morlak {

namespace {

// The slot word: generation above, state in the two low bits.
enum : uint64_t { kHeld = 0, kHeldInputCame = 1, kWaiting = 2, kStateMask = 3 };
constexpr uint64_t kGeneration = 4;
constexpr size_t kBlockSlots = 256;
// A report carries the slot's address in the low 48 bits (user addresses fit there) and
// the low 16 bits of its generation above: a report outlives its connection by moments,
// never by 65,536 uses of its slot.
constexpr int kAddressBits = 48;
constexpr uint64_t kAddressMask = (uint64_t{1} << kAddressBits) - 1;

uint64_t GenerationOf(uint64_t word) {
  return (word / kGeneration) & 0xFFFF;
}

}  // namespace

WaitSlots::Slot* WaitSlots::Acquire(TIdPeerThread* connection) {
  std::lock_guard lock(mutex_);
  if (free_.empty()) {
    auto block = std::make_unique<Slot[]>(kBlockSlots);
    if (reinterpret_cast<uintptr_t>(&block[kBlockSlots - 1]) > kAddressMask)
      throw std::runtime_error("Wait slot address out of range.");
    for (size_t i = 0; i < kBlockSlots; ++i) free_.push_back(&block[i]);
    blocks_.push_back(std::move(block));
  }
  Slot* slot = free_.back();
  free_.pop_back();
  slot->connection = connection;
  return slot;
}

void WaitSlots::Release(Slot* slot) {
  const uint64_t word = slot->word.load(std::memory_order_relaxed);
  slot->word.store((word & ~kStateMask) + kGeneration, std::memory_order_release);
  std::lock_guard lock(mutex_);
  slot->connection = nullptr;
  free_.push_back(slot);
}

uint64_t WaitSlots::Token(const Slot* slot) {
  const uint64_t word = slot->word.load(std::memory_order_relaxed);
  return reinterpret_cast<uintptr_t>(slot) | GenerationOf(word) << kAddressBits;
}

bool WaitSlots::StartWait(Slot* slot) {
  uint64_t word = slot->word.load(std::memory_order_relaxed);
  if ((word & kStateMask) == kHeld &&
      slot->word.compare_exchange_strong(word, word | kWaiting, std::memory_order_release,
                                         std::memory_order_relaxed))
    return true;
  // Input came while the connection was held: it stays held, with the news taken.
  slot->word.store(word & ~kStateMask, std::memory_order_relaxed);
  return false;
}

void WaitSlots::TakeNews(Slot* slot) {
  if (slot->word.load(std::memory_order_relaxed) & kHeldInputCame)
    slot->word.fetch_and(~kStateMask, std::memory_order_relaxed);
}

bool WaitSlots::EndWait(Slot* slot) {
  uint64_t word = slot->word.load(std::memory_order_relaxed);
  return (word & kStateMask) == kWaiting &&
         slot->word.compare_exchange_strong(word, word & ~kStateMask, std::memory_order_acquire,
                                            std::memory_order_relaxed);
}

TIdPeerThread* WaitSlots::Claim(uint64_t token) {
  Slot* slot = reinterpret_cast<Slot*>(token & kAddressMask);
  uint64_t word = slot->word.load(std::memory_order_acquire);
  for (;;) {
    if (GenerationOf(word) != token >> kAddressBits) return nullptr;
    const uint64_t state = word & kStateMask;
    if (state == kHeldInputCame) return nullptr;
    const uint64_t next = (word & ~kStateMask) | (state == kWaiting ? kHeld : kHeldInputCame);
    if (slot->word.compare_exchange_weak(word, next, std::memory_order_acq_rel,
                                         std::memory_order_acquire))
      return state == kWaiting ? slot->connection : nullptr;
  }
}

}  // namespace morlak
