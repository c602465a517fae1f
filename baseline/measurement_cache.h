#ifndef VESK_BASELINE_MEASUREMENT_CACHE_H_
#define VESK_BASELINE_MEASUREMENT_CACHE_H_

// The earlier form of MeasurementCache, kept as the reference point for
// benchmarks: an LRU cache bounded by entry count alone. It defines the same
// class as cache/measurement_cache.h, so a program links one form or the
// other, never both.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <unordered_map>

#include "cache/cached_size.h"
#include "cache/measurement_cache_entry.h"
#include "cache/measurement_cache_key.h"
#include "cache/measurement_cache_key_hash.h"

namespace morvane::vesk {

// A least-recently-used cache of at most kMaxEntries measurements. It counts
// no bytes and stores a key of any size, so its memory is bounded only by
// kMaxEntries times the largest keys stored. It offers no lookup.
//
// Thread safety: shared() and set() may be called from any thread; set()
// holds one internal mutex for its whole duration. clear(), entryCount(),
// forEachEntry() and destruction take no lock: call them only while no other
// thread uses the cache.
//
// Failures: allocation failure inside set() propagates as an exception with
// the mutex released and the cache as it was before the call. A mutex that
// cannot be locked raises std::system_error.
//
// Complexity: set() hashes the key to look it up, again to index a new key,
// and hashes an evicted key once more to unindex it.
class MeasurementCache {
 public:
  using CacheEntry = MeasurementCacheEntry;

  static constexpr std::size_t kMaxEntries = 512;

  // The process-wide instance, built on first use and destroyed at exit.
  static MeasurementCache& shared();

  MeasurementCache() = default;
  MeasurementCache(const MeasurementCache&) = delete;
  MeasurementCache& operator=(const MeasurementCache&) = delete;
  ~MeasurementCache() = default;

  // Stores `size` under `key`. A stored key gets the new value and becomes
  // the most recently used. A new key goes to the front; when that makes one
  // entry too many, the least recently used entry is evicted.
  void set(const MeasurementCacheKey& key, CachedSize size);

  // Removes every entry. Not synchronised.
  void clear() noexcept;

  // Number of stored entries. Not synchronised.
  std::uint64_t entryCount() const noexcept { return index_.size(); }

  // Calls `visit` with each stored entry, most recently used first, without
  // changing the order. Not synchronised; `visit` must not use the cache.
  template <std::invocable<const CacheEntry&> Visitor>
  void forEachEntry(Visitor&& visit) const {
    for (const CacheEntry& entry : entries_) visit(entry);
  }

 private:
  using EntryList = std::list<CacheEntry>;
  using Index = std::unordered_map<MeasurementCacheKey, EntryList::iterator,
                                   MeasurementCacheKeyHash>;

  void evictLeastRecentlyUsed() noexcept;

  // Invariants between operations: entries_ and index_ hold the same number
  // of elements, at most kMaxEntries, and each list entry has exactly one
  // index entry, the one that maps to it.
  std::mutex mutex_;
  EntryList entries_;  // front = most recently stored or updated
  Index index_;
};

}  // namespace morvane::vesk

#endif  // VESK_BASELINE_MEASUREMENT_CACHE_H_
