#include "platform/pointer_hash_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace morlak {
namespace {

// Random inserts, finds and removals, against an ordered multimap that cannot be wrong.
// Few distinct hashes and a narrow hash range force shared keys, long probe runs that wrap
// around the end of the array, and every shrink and growth on the way.
TEST(PointerHashIndex, AgreesWithAMultimapThroughGrowthAndShrinking) {
  std::mt19937_64 random(7);
  std::vector<int> items(5000);
  ShardedPointerIndex<int, 4> sharded;
  PointerHashIndex<int> index;
  std::multimap<uint64_t, int*> expected;
  auto hashOf = [&](uint64_t h) { return (h % 300) * 0x9E3779B97F4A7C15ULL; };
  for (int step = 0; step < 60000; ++step) {
    const bool filling = (step / 10000) % 2 == 0;
    int* item = &items[random() % items.size()];
    const uint64_t hash = hashOf(static_cast<uint64_t>(item - items.data()));
    const bool listed = std::any_of(expected.lower_bound(hash), expected.upper_bound(hash),
                                    [&](const auto& e) { return e.second == item; });
    if (!listed && random() % 3 != 0 && filling) {
      index.Insert(hash, item);
      sharded.Insert(hash, item);
      expected.emplace(hash, item);
    } else if (listed && (!filling || random() % 4 == 0)) {
      ASSERT_TRUE(index.Erase(hash, item));
      ASSERT_TRUE(sharded.Erase(hash, item));
      for (auto it = expected.lower_bound(hash);; ++it)
        if (it->second == item) {
          expected.erase(it);
          break;
        }
    }
    int outsider = 0;
    ASSERT_FALSE(index.Erase(hash, nullptr));
    ASSERT_FALSE(index.Erase(hash, &outsider));
    // Every object of one hash is found, and no other.
    std::set<int*> found, sharedFound, wanted;
    for (auto it = expected.lower_bound(hash); it != expected.upper_bound(hash); ++it)
      wanted.insert(it->second);
    index.Find(hash, [&](int& i) {
      found.insert(&i);
      return false;
    });
    sharded.Find(hash, [&](int& i) {
      sharedFound.insert(&i);
      return false;
    });
    ASSERT_EQ(found, wanted) << "step " << step;
    ASSERT_EQ(sharedFound, wanted) << "step " << step;
    ASSERT_EQ(index.size(), expected.size());
  }
}

TEST(PointerHashIndex, HashBytesFoldsCaseOnlyWhenAsked) {
  EXPECT_EQ(HashBytes("AbC", true), HashBytes("abc", true));
  EXPECT_NE(HashBytes("AbC"), HashBytes("abc"));
  EXPECT_NE(HashBytes("abc"), HashBytes("abd"));
}

}  // namespace
}  // namespace morlak
