// Hash containers keyed without regard to (ASCII) case. Lookups take a string_view, so
// probing with a request path or an extension copies nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/text.h"

namespace morlak {

struct CaseInsensitiveHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const noexcept {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      hash = (hash ^ (byte >= 'A' && byte <= 'Z' ? byte + 32u : byte)) * 1099511628211ull;
    }
    return static_cast<size_t>(hash);
  }
};

struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return SameText(a, b); }
};

using CaseInsensitiveSet =
    std::unordered_set<std::string, CaseInsensitiveHash, CaseInsensitiveEqual>;

template <typename Value>
using CaseInsensitiveMap =
    std::unordered_map<std::string, Value, CaseInsensitiveHash, CaseInsensitiveEqual>;

}  // namespace morlak
