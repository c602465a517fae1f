#ifndef VESK_CACHE_HASHED_KEY_MAP_H_
#define VESK_CACHE_HASHED_KEY_MAP_H_

#include <cstdint>
#include <unordered_map>

#include "measurement_cache_key.h"

namespace morvane::vesk::detail {

// A map's own copy of a key, stored with the key's hash. The hash is
// computed once by whoever inserts, from the caller's key; the map only ever
// reads stored hashes, so it never hashes a key itself, whatever the
// standard library's insertion or rehashing does.
struct StoredHashedKey {
  // Copies the key; by value it would copy, then move.
  StoredHashedKey(
      const MeasurementCacheKey& source,  // NOLINT(modernize-pass-by-value)
      std::uint64_t keyHash)
      : key(source), hash(keyHash) {}
  MeasurementCacheKey key;
  std::uint64_t hash;
};

// A caller's key with its hash, for lookups.
struct HashedKey {
  const MeasurementCacheKey& key;
  std::uint64_t hash;
};

// Hashes a key by reading the hash stored beside it.
struct HashReader {
  using is_transparent = void;
  std::uint64_t operator()(const StoredHashedKey& stored) const noexcept {
    return stored.hash;
  }
  std::uint64_t operator()(const HashedKey& probe) const noexcept {
    return probe.hash;
  }
};

// Compares hashes first, so that a bucket walk reads no key whose hash
// differs. Keys compare as MeasurementCacheKey's operator== does: one holding
// a NaN equals no key.
struct HashFirstEqual {
  using is_transparent = void;
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return a.hash == b.hash && a.key == b.key;
  }
};

// Keys to `Value`s, found by a HashedKey without hashing anything.
template <typename Value>
using HashedKeyMap =
    std::unordered_map<StoredHashedKey, Value, HashReader, HashFirstEqual>;

}  // namespace morvane::vesk::detail

#endif  // VESK_CACHE_HASHED_KEY_MAP_H_
