#ifndef VESK_CACHE_MEASUREMENT_CACHE_H_
#define VESK_CACHE_MEASUREMENT_CACHE_H_

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "cached_size.h"
#include "entry_charge.h"
#include "export.h"
#include "measurement_cache_entry.h"
#include "measurement_cache_key.h"
#include "measurement_cache_key_hash.h"
#include "measurement_cache_stats.h"
#include "spin_then_park_lock.h"
#include "thread_safety_annotations.h"

namespace morvane::vesk {

// A least-recently-used cache of text measurements, bounded twice: at most
// kMaxEntries entries and at most kByteBudget accounted bytes, where an entry
// is charged entryCharge(key) for the two key copies it keeps.
//
// Thread safety: shared(), get(), set(), removeMatchingMarkdown(), clear(),
// entryCount() and stats() may be called from any thread at any time. Each
// holds one internal lock (a SpinThenParkLock, non-recursive) for its whole
// critical section, through a scope-bound guard, and calls nothing outside
// the cache while holding it; the result is as if the calls ran one at a
// time, in an order that keeps the order of calls that did not overlap.
// forEachEntry() and destruction take no lock: call them only while no other
// thread uses the cache. shared() must not be called, nor its instance used,
// once exit-time destruction has begun (a thread still running when main
// returns).
//
// Work kept out of the lock: get() and set() hash the caller's key before
// taking it; a set() whose key is refused never takes it;
// removeMatchingMarkdown() and clear() free what they remove after releasing
// it.
//
// Ownership: the cache stores its own copies of every key and never refers to
// a caller's key after returning; get() copies the value out. A reference to
// a stored key or markdown kept from forEachEntry may be passed back to set()
// or removeMatchingMarkdown() only while that entry is still stored and no
// other thread uses the cache; the call stays correct when it evicts or
// removes that very entry.
//
// Memory: the key copies the cache holds never amount to more than
// kByteBudget in entryCharge terms, inside set() as well as between
// operations: set() evicts before it copies a new key, so the only copies
// beyond those of the accounted entries are the new entry's own, made once
// there is room for them.
//
// Misses and refusals: a miss is reported only by get() returning false. A key
// whose entryCharge exceeds kByteBudget is never stored: set() returns after
// reading six string lengths, without locking, hashing or evicting.
//
// Failures: allocation failure inside set() propagates as an exception with
// the lock released; entries it already evicted stay evicted, nothing is
// half-inserted and every invariant holds. Taking the lock cannot fail, and
// no other operation throws.
//
// Complexity: get() and set() hash the caller's key once and otherwise run in
// constant time plus one index erase per evicted entry, which hashes nothing;
// removeMatchingMarkdown() and clear() are linear in the entries stored.
class MeasurementCache {
 public:
  using CacheEntry = MeasurementCacheEntry;

  static constexpr std::uint64_t kByteBudget = std::uint64_t{8} * 1024 * 1024;
  static constexpr std::size_t kMaxEntries = 512;
  static constexpr std::uint64_t kEntryOverheadBytes =
      vesk::kEntryOverheadBytes;

  // The process-wide instance, built on first use and destroyed at exit.
  VESK_EXPORT static MeasurementCache& shared();

  VESK_EXPORT MeasurementCache();
  MeasurementCache(const MeasurementCache&) = delete;
  MeasurementCache& operator=(const MeasurementCache&) = delete;
  ~MeasurementCache() = default;

  // On a hit: makes the entry the most recently used, copies its value into
  // `out` and returns true. On a miss: returns false and leaves `out` alone.
  VESK_EXPORT bool get(const MeasurementCacheKey& key, CachedSize& out);

  // Stores `size` under `key`. A stored key gets the new value and becomes
  // the most recently used without evicting anything. A new key first evicts
  // least recently used entries until it fits both limits.
  VESK_EXPORT void set(const MeasurementCacheKey& key, CachedSize size);

  // Removes every entry whose key's markdown equals `markdown` (same length,
  // same bytes), whatever its other fields, and releases their bytes.
  VESK_EXPORT void removeMatchingMarkdown(const std::string& markdown);

  // Removes every entry, releases their bytes and resets every counter of
  // stats(): a cleared cache reports what a new one does.
  VESK_EXPORT void clear() noexcept;

  // What the cache holds and what it did since it was built or last cleared,
  // read in one acquisition of the lock (see MeasurementCacheStats).
  VESK_EXPORT MeasurementCacheStats stats() const;

  // Number of stored entries.
  VESK_EXPORT std::uint64_t entryCount() const noexcept;

  // Calls `visit` with each stored entry, most recently used first, without
  // changing the order. Not synchronised (hence unchecked by the analysis):
  // no other thread may use the cache meanwhile, and `visit` must not use it.
  template <std::invocable<const CacheEntry&> Visitor>
  void forEachEntry(Visitor&& visit) const VESK_NO_THREAD_SAFETY_ANALYSIS {
    for (const Slot& slot : entries_) visit(slot.entry);
  }

 private:
  friend class MeasurementCacheInspector;  // read-only access for tests

  struct Slot;
  using EntryList = std::list<Slot>;

  // The index's copy of a key, stored with the key's hash. The hash is
  // computed once, from the caller's key before the lock is taken; the index
  // only ever reads stored hashes, so it never hashes a key itself, whatever
  // the standard library's insertion does.
  struct IndexedKey {
    // Copies the new entry's list copy; by value it would copy, then move.
    IndexedKey(
        const MeasurementCacheKey& source,  // NOLINT(modernize-pass-by-value)
        std::uint64_t keyHash)
        : key(source), hash(keyHash) {}
    MeasurementCacheKey key;
    std::uint64_t hash;
  };
  // A caller's key with its hash, for lookups under the lock.
  struct HashedKey {
    const MeasurementCacheKey& key;
    std::uint64_t hash;
  };
  struct IndexHash {
    using is_transparent = void;
    std::uint64_t operator()(const IndexedKey& stored) const noexcept {
      return stored.hash;
    }
    std::uint64_t operator()(const HashedKey& probe) const noexcept {
      return probe.hash;
    }
  };
  // Compares hashes first, so that a bucket walk reads no key whose hash
  // differs.
  struct IndexEqual {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return a.hash == b.hash && a.key == b.key;
    }
  };
  using Index = std::unordered_map<IndexedKey, EntryList::iterator, IndexHash,
                                   IndexEqual>;

  struct Slot {
    CacheEntry entry;
    // The index entry that maps to this slot. Eviction and removal erase the
    // index through it, so they never look an evicted key up again and still
    // find keys that do not equal themselves (a NaN in a double field).
    Index::iterator indexed;
    // Empty while the slot is stored. Removal and clear() move the slot's
    // index entry here, out of the index, so that slot and index entry are
    // freed together once the lock is released.
    Index::node_type releasedIndexEntry;
  };

  void evictLeastRecentlyUsed() noexcept VESK_REQUIRES(lock_);
  // Unlinks the slot from the list and its entry from the index, into
  // `removed`, and releases its bytes; frees nothing.
  void moveOut(EntryList::iterator slot, EntryList& removed) noexcept
      VESK_REQUIRES(lock_);

  // What the operations did; each counter is changed only under the lock.
  struct Counters {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    std::uint64_t insertions = 0;
    std::uint64_t updates = 0;
    std::uint64_t evictionsByEntryLimit = 0;
    std::uint64_t evictionsByByteBudget = 0;
    std::uint64_t removals = 0;
  };

  // Invariants between operations:
  //  - entries_ and index_ hold the same number of elements, at most
  //    kMaxEntries, and are in one-to-one correspondence: every slot's
  //    `indexed` designates the index entry whose value designates that slot;
  //  - accountedBytes_ is the sum of entryCharge over entries_ and is at most
  //    kByteBudget;
  //  - every index entry's stored hash is MeasurementCacheKeyHash of its key;
  //  - index_ never rehashes (its buckets are reserved for kMaxEntries keys,
  //    and set() evicts before it inserts), so the iterators the slots hold
  //    stay valid for as long as their index entries exist.
  //  All of them but refusals_ are touched only under lock_.
  mutable SpinThenParkLock lock_;
  std::uint64_t accountedBytes_ VESK_GUARDED_BY(lock_) = 0;
  EntryList entries_ VESK_GUARDED_BY(lock_);  // front = most recently used
  Index index_ VESK_GUARDED_BY(lock_);
  Counters counters_ VESK_GUARDED_BY(lock_);
  // A refused set() takes no lock, so its count is the one counter kept
  // outside it; it orders nothing, hence relaxed.
  std::atomic<std::uint64_t> refusals_{0};
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_H_
