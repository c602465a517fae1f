#ifndef VESK_CACHE_MEASUREMENT_CACHE_KEY_HASH_H_
#define VESK_CACHE_MEASUREMENT_CACHE_KEY_HASH_H_

#include <cstdint>

#include "export.h"
#include "measurement_cache_key.h"

namespace morvane::vesk {

// Mixes one field hash into a running seed. Arithmetic wraps modulo 2^64.
constexpr std::uint64_t hashCombine(std::uint64_t seed,
                                    std::uint64_t fieldHash) noexcept {
  return seed ^ (fieldHash + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

// Hashes all 24 fields of a key, in declaration order, starting from seed 0.
// Each field is hashed by the standard library's std::hash of its type, so
// keys that compare equal hash equal (both zeros of a double hash to 0).
// Reads every byte of the six strings once and allocates nothing.
//
// The call operator is deliberately not noexcept: std::unordered_map then
// stores each key's hash beside it, compares that before calling operator==,
// and never hashes a stored key again, which matters for multi-KiB texts.
struct VESK_EXPORT MeasurementCacheKeyHash {
  std::uint64_t operator()(const MeasurementCacheKey& key) const;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_KEY_HASH_H_
