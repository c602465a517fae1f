#ifndef VESK_CACHE_MEASUREMENT_CACHE_STATS_H_
#define VESK_CACHE_MEASUREMENT_CACHE_STATS_H_

#include <cstdint>

namespace morvane::vesk {

// A snapshot of what a MeasurementCache holds and what its operations did,
// counted since the cache was built or last cleared. Every field is read
// under one acquisition of the cache's lock, so the snapshot is one state the
// cache passed through: `entries` and `accountedBytes` always agree with the
// counters (entries == insertions - evictions - removals, taken together).
struct MeasurementCacheStats {
  std::uint64_t entries = 0;         // entries stored
  std::uint64_t accountedBytes = 0;  // sum of entryCharge over them

  std::uint64_t hits = 0;    // get() calls that found their key
  std::uint64_t misses = 0;  // get() calls that did not

  std::uint64_t insertions = 0;  // set() calls that stored a new entry
  std::uint64_t updates = 0;     // set() calls that overwrote a stored value
  // set() calls that stored nothing because the key alone exceeds the byte
  // budget.
  std::uint64_t refusals = 0;

  // Entries set() evicted to stay within the entry limit (counted here when
  // both limits called for the eviction) ...
  std::uint64_t evictionsByEntryLimit = 0;
  // ... and those it evicted only to make room in the byte budget.
  std::uint64_t evictionsByByteBudget = 0;

  // Entries removeMatchingMarkdown() removed.
  std::uint64_t removals = 0;

  friend bool operator==(const MeasurementCacheStats&,
                         const MeasurementCacheStats&) = default;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_STATS_H_
