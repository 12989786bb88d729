// Who holds a connection between its serving threads and the readiness set's reports,
// including reports that arrive late, after the connection moved on or ended.
#include "engine/wait_slots.h"

#include <gtest/gtest.h>

namespace morlak {
namespace {

TIdPeerThread* Connection(int n) {
  return reinterpret_cast<TIdPeerThread*>(static_cast<uintptr_t>(n) * 64);
}

TEST(WaitSlots, ReportsGoToTheWaitingConnectionOnlyOnce) {
  WaitSlots slots;
  WaitSlots::Slot* slot = slots.Acquire(Connection(1));
  const uint64_t token = WaitSlots::Token(slot);
  EXPECT_NE(token, 0u);
  ASSERT_TRUE(WaitSlots::StartWait(slot));
  EXPECT_EQ(WaitSlots::Claim(token), Connection(1));
  // Held now: a second report only leaves word for the holder.
  EXPECT_EQ(WaitSlots::Claim(token), nullptr);
  EXPECT_FALSE(WaitSlots::StartWait(slot));
  // The news was taken: the next wait starts cleanly.
  ASSERT_TRUE(WaitSlots::StartWait(slot));
  EXPECT_TRUE(WaitSlots::EndWait(slot));
  EXPECT_TRUE(WaitSlots::StartWait(slot));
  EXPECT_EQ(WaitSlots::Claim(token), Connection(1));
  EXPECT_FALSE(WaitSlots::EndWait(slot));
}

TEST(WaitSlots, ReportsOfAnEndedConnectionAreVoid) {
  WaitSlots slots;
  WaitSlots::Slot* slot = slots.Acquire(Connection(1));
  const uint64_t old = WaitSlots::Token(slot);
  slots.Release(slot);
  // The slot serves the next connection; the old report must not reach it.
  WaitSlots::Slot* again = slots.Acquire(Connection(2));
  ASSERT_EQ(again, slot);
  ASSERT_TRUE(WaitSlots::StartWait(again));
  EXPECT_EQ(WaitSlots::Claim(old), nullptr);
  EXPECT_EQ(WaitSlots::Claim(WaitSlots::Token(again)), Connection(2));
}

}  // namespace
}  // namespace morlak
