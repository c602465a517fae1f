#ifndef VESK_CACHE_ENTRY_CHARGE_H_
#define VESK_CACHE_ENTRY_CHARGE_H_

#include <cstdint>

#include "measurement_cache_key.h"

namespace morvane::vesk {

// Fixed part of one stored key copy: the key record with its numeric, flag
// and flavor fields.
inline constexpr std::uint64_t kEntryOverheadBytes = 280;

// Bytes charged for one stored entry: the cache keeps two copies of every key
// (one in its recency list, one in its index), each charged for the lengths of
// its six strings plus the fixed overhead. Depends on the key alone and reads
// only six lengths.
inline std::uint64_t entryCharge(const MeasurementCacheKey& key) noexcept {
  const std::uint64_t stringBytes = std::uint64_t{key.markdown.size()} +
                                    key.string1.size() + key.string2.size() +
                                    key.string3.size() + key.string4.size() +
                                    key.string5.size();
  return 2 * (stringBytes + kEntryOverheadBytes);
}

}  // namespace morvane::vesk

#endif  // VESK_CACHE_ENTRY_CHARGE_H_
