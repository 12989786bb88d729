// An index of objects owned elsewhere, found by a 64-bit hash of their key. Entries live
// in one flat array probed in a line (no node per entry), so finding or removing one
// touches a cache line or two even in an index of a million entries. Several objects may
// share a key; the caller's match test picks among them. The array shrinks again when
// most entries are gone, so a burst leaves no large table behind.
// ShardedPointerIndex splits an index into tables chosen by the hash, so growing never
// rehashes more than one small table at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace morlak {

// Spreads every bit of `h` over the whole word; the index takes table and slot from it.
inline uint64_t MixHash(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// FNV-1a over the bytes, mixed; with `foldCase` ASCII letters hash as their lower case.
inline uint64_t HashBytes(std::string_view s, bool foldCase = false) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : s) {
    if (foldCase && c >= 'A' && c <= 'Z') c += 'a' - 'A';
    h = (h ^ c) * 0x100000001b3ULL;
  }
  return MixHash(h);
}

// Which of `count` (a power of two) tables holds a hash: its top bits choose, so the low
// bits stay free to choose the slot inside.
inline size_t ShardOf(uint64_t hash, size_t count) {
  return (hash >> 58) & (count - 1);
}

template <typename T>
class PointerHashIndex {
 public:
  size_t size() const { return size_; }

  void Insert(uint64_t hash, T* item) {
    if ((size_ + 1) * 4 > slots_.size() * 3) Resize(slots_.empty() ? 16 : slots_.size() * 2);
    const size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (slots_[i].item) i = (i + 1) & mask;
    slots_[i] = {hash, item};
    ++size_;
  }

  // The first object with this hash that `match` accepts, or nullptr.
  template <typename Match>
  T* Find(uint64_t hash, Match&& match) const {
    if (slots_.empty()) return nullptr;
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask; slots_[i].item; i = (i + 1) & mask)
      if (slots_[i].hash == hash && match(*slots_[i].item)) return slots_[i].item;
    return nullptr;
  }

  // Removes `item`, which was inserted with `hash`; false when it is not in the index.
  bool Erase(uint64_t hash, const T* item) {
    if (!item || slots_.empty()) return false;
    const size_t mask = slots_.size() - 1;
    size_t hole = hash & mask;
    while (slots_[hole].item != item) {
      if (!slots_[hole].item) return false;
      hole = (hole + 1) & mask;
    }
    // Later entries of the same run move back into the hole unless that would put them
    // before their home slot; no tombstones are left.
    for (size_t next = (hole + 1) & mask; slots_[next].item; next = (next + 1) & mask) {
      const size_t home = slots_[next].hash & mask;
      if (((next - home) & mask) >= ((next - hole) & mask)) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = {};
    --size_;
    if (slots_.size() > 16 && size_ * 8 < slots_.size()) Resize(slots_.size() / 2);
    return true;
  }

  void clear() {
    std::vector<Slot>().swap(slots_);
    size_ = 0;
  }

 private:
  struct Slot {
    uint64_t hash = 0;
    T* item = nullptr;  // nullptr: empty
  };

  void Resize(size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    const size_t mask = capacity - 1;
    for (const Slot& s : old) {
      if (!s.item) continue;
      size_t i = s.hash & mask;
      while (slots_[i].item) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;  // a power of two in size, at most three quarters full
  size_t size_ = 0;
};

template <typename T, size_t kShards = 64>
class ShardedPointerIndex {
 public:
  static_assert((kShards & (kShards - 1)) == 0 && kShards <= 64);

  // The table that holds, or would hold, objects with this hash.
  PointerHashIndex<T>& Shard(uint64_t hash) { return shards_[ShardOf(hash, kShards)]; }
  void Insert(uint64_t hash, T* item) { Shard(hash).Insert(hash, item); }
  template <typename Match>
  T* Find(uint64_t hash, Match&& match) {
    return Shard(hash).Find(hash, match);
  }
  bool Erase(uint64_t hash, const T* item) { return Shard(hash).Erase(hash, item); }
  void clear() {
    for (auto& shard : shards_) shard.clear();
  }

 private:
  std::array<PointerHashIndex<T>, kShards> shards_;
};

}  // namespace morlak
