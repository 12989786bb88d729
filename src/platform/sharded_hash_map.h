// A hash table split into independent tables chosen by the key's hash. Each table grows
// and rehashes on its own, so an index of a million entries never stops its owner (who
// holds a lock around every call) for a whole rehash: a pause is one small table's.
#pragma once

#include <array>
#include <cstddef>

namespace morlak {

template <typename Map, size_t kShards = 64>
class ShardedHashMap {
 public:
  // The table that holds, or would hold, `key`.
  template <typename Key>
  Map& Shard(const Key& key) {
    return shards_[typename Map::hasher{}(key) % kShards];
  }
  template <typename Key>
  size_t count(const Key& key) {
    return Shard(key).count(key);
  }
  void clear() {
    for (Map& shard : shards_) shard.clear();
  }

 private:
  std::array<Map, kShards> shards_;
};

}  // namespace morlak
