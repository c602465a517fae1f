#ifndef VESK_CACHE_MEASUREMENT_CACHE_STATS_H_
#define VESK_CACHE_MEASUREMENT_CACHE_STATS_H_

#include <cstdint>

namespace morvane::vesk {

// A snapshot of what a MeasurementCache holds and what its operations did,
// counted since the cache was built or last cleared. Every field is read
// under one acquisition of the cache's lock, so the fields are one state the
// cache passed through: `entries` and `accountedBytes` always agree with the
// counters (entries == insertions - evictions - removals, taken together).
// The exceptions are counted without the lock and may run slightly ahead of
// the rest: `refusals`, and the measurements of keys refused for their size.
//
// Across clear(): a getOrMeasure() call is counted on the side of the
// clear() where it missed. One that missed before and ends after a clear()
// is counted wholly before it, so neither its measurement nor its wait
// counts after it; its store does, as any store after the clear() does.
struct MeasurementCacheStats {
  std::uint64_t entries = 0;         // entries stored
  std::uint64_t accountedBytes = 0;  // sum of entryCharge over them

  // get() and getOrMeasure() calls that found their key, and those that did
  // not. A getOrMeasure() call counts once: as a miss when it measures or
  // waits for another caller's measurement (so without failures and
  // refusals, its misses are its measurements plus its waits), as a hit when
  // it finds the key, even stored while it looked.
  std::uint64_t hits = 0;
  std::uint64_t misses = 0;

  // Stores, by set() or by getOrMeasure() after a measurement: those that
  // added a new entry, those that overwrote a stored value, and those that
  // stored nothing because the key alone exceeds the byte budget.
  std::uint64_t insertions = 0;
  std::uint64_t updates = 0;
  std::uint64_t refusals = 0;

  // Entries evicted to stay within the entry limit (counted here when both
  // limits called for the eviction) ...
  std::uint64_t evictionsByEntryLimit = 0;
  // ... and those evicted only to stay within the byte budget: by stores
  // that make room, and by setLimits() when it shrinks the limits.
  std::uint64_t evictionsByByteBudget = 0;

  // Entries removeMatchingMarkdown() removed.
  std::uint64_t removals = 0;

  // Calls of a measuring function that getOrMeasure() made (those that threw
  // included), and the steady-clock time spent inside them. The measurement
  // of a miss is counted when its result is stored or dropped.
  std::uint64_t measurements = 0;
  std::uint64_t measurementNanoseconds = 0;
  // getOrMeasure() calls that waited for another caller's measurement of an
  // equal key and returned its result: each saved one measurement.
  std::uint64_t waits = 0;

  friend bool operator==(const MeasurementCacheStats&,
                         const MeasurementCacheStats&) = default;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_STATS_H_
