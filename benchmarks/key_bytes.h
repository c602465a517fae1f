#ifndef VESK_BENCHMARKS_KEY_BYTES_H_
#define VESK_BENCHMARKS_KEY_BYTES_H_

#include <cstddef>
#include <string>

#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// Bytes of the fixed-size fields of a serialized key; a serialized key is this
// many bytes plus the lengths of its six strings.
inline constexpr std::size_t kKeyBytesFixedPart = 111;

// Replaces `out` with all 24 fields of `key`, in declaration order, for caches
// keyed by byte strings: each string as its length (8 bytes, little-endian)
// then its bytes, every other field as its object representation (doubles,
// integers, flags and flavor). Keys with equal bytes are equal keys, and equal
// keys give equal bytes except that +0.0 and -0.0 differ here, and that a key
// holding a NaN, which equals no key, does match its own bytes. Reuses `out`'s
// capacity.
void serializeKey(const MeasurementCacheKey& key, std::string& out);

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_KEY_BYTES_H_
