#ifndef VESK_CACHE_MEASUREMENT_CACHE_H_
#define VESK_CACHE_MEASUREMENT_CACHE_H_

#include <atomic>
#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>

#include "cached_size.h"
#include "entry_charge.h"
#include "export.h"
#include "hashed_key_map.h"
#include "measurement_cache_entry.h"
#include "measurement_cache_key.h"
#include "measurement_cache_key_hash.h"
#include "measurement_cache_limits.h"
#include "measurement_cache_stats.h"
#include "spin_then_park_lock.h"
#include "thread_safety_annotations.h"

namespace morvane::vesk {

// A least-recently-used cache of text measurements, bounded twice: at most
// limits().maxEntries entries and at most limits().byteBudget accounted
// bytes, where an entry is charged entryCharge(key) for the two key copies it
// keeps. The limits are chosen at construction (512 entries and 8 MiB unless
// given) and may be changed at any time with setLimits().
//
// Thread safety: shared(), get(), getOrMeasure(), set(),
// removeMatchingMarkdown(), clear(), entryCount(), stats(), limits() and
// setLimits() may be called from any thread at any time. Each holds one
// internal lock (a SpinThenParkLock, non-recursive) for its whole critical
// section, through a scope-bound guard, and calls nothing outside the cache
// while holding it; the result is as if the calls ran one at a time, in an
// order that keeps the order of calls that did not overlap. forEachEntry()
// and destruction take no lock: call them only while no other thread uses the
// cache. shared() must not be called, nor its instance used, once exit-time
// destruction has begun (a thread still running when main returns).
//
// One measurement per key: getOrMeasure() runs its measuring function outside
// the lock, and callers that miss an equal key while it runs wait for its
// result instead of measuring again; callers of other keys are not held up.
//
// Work kept out of the lock: every operation on a key hashes it before taking
// the lock; a key refused for its size never takes it; removal, clear() and
// the evictions of setLimits() free what they remove after releasing it.
//
// Ownership: the cache stores its own copies of every key and never refers to
// a caller's key after returning; get() copies the value out. A reference to
// a stored key or markdown kept from forEachEntry may be passed back to set()
// or removeMatchingMarkdown() only while that entry is still stored and no
// other thread uses the cache; the call stays correct when it evicts or
// removes that very entry.
//
// Memory: the key copies the cache holds never amount to more than the byte
// budget in entryCharge terms, inside set() as well as between operations:
// set() evicts before it copies a new key, so the only copies beyond those of
// the accounted entries are the new entry's own, made once there is room for
// them. Besides the keys, the index keeps one bucket pointer for each entry
// the largest limits set so far can hold.
//
// Misses and refusals: a miss is reported only by get() returning false. A key
// whose entryCharge exceeds the byte budget is never stored: set() returns
// after reading six string lengths, without locking, hashing or evicting, and
// getOrMeasure() measures it without looking it up.
//
// Failures: allocation failure inside set(), getOrMeasure() or setLimits()
// propagates as an exception with the lock released; entries already evicted
// stay evicted, nothing is half-inserted and every invariant holds. Limits
// that cannot hold an entry are refused with std::invalid_argument, changing
// nothing. Taking the lock cannot fail, and no other operation throws.
//
// Complexity: get(), getOrMeasure() and set() hash the caller's key once and
// otherwise run in constant time plus one index erase per evicted entry,
// which hashes nothing (a getOrMeasure() miss also scans the measurements in
// progress, one per thread measuring at most); removeMatchingMarkdown() and
// clear() are linear in the entries stored; setLimits() in the entries it
// evicts, and in all entries when it grows the index.
class MeasurementCache {
 public:
  using CacheEntry = MeasurementCacheEntry;

  // The default limits.
  static constexpr std::uint64_t kByteBudget = std::uint64_t{8} * 1024 * 1024;
  static constexpr std::size_t kMaxEntries = 512;
  static constexpr std::uint64_t kEntryOverheadBytes =
      vesk::kEntryOverheadBytes;
  static_assert(MeasurementCacheLimits{}.maxEntries == kMaxEntries &&
                MeasurementCacheLimits{}.byteBudget == kByteBudget);

  // The process-wide instance, built on first use with the default limits and
  // destroyed at exit.
  VESK_EXPORT static MeasurementCache& shared();

  VESK_EXPORT MeasurementCache();
  // Throws std::invalid_argument for limits that cannot hold an entry
  // (maxEntries 0, or a byteBudget below kSmallestEntryCharge), and the
  // allocation failure when the index for them cannot be allocated.
  VESK_EXPORT explicit MeasurementCache(MeasurementCacheLimits limits);
  MeasurementCache(const MeasurementCache&) = delete;
  MeasurementCache& operator=(const MeasurementCache&) = delete;
  ~MeasurementCache() = default;

  // On a hit: makes the entry the most recently used, copies its value into
  // `out` and returns true. On a miss: returns false and leaves `out` alone.
  VESK_EXPORT bool get(const MeasurementCacheKey& key, CachedSize& out);

  // On a hit, returns the stored size as get() would. On a miss, calls
  // `measure()` without holding the lock, stores its result as set() would
  // and returns it. A caller that misses an equal key while another caller's
  // measurement of it runs waits for that result instead of measuring; a key
  // holding a NaN equals nothing, so it never waits and is always measured.
  // A key too large for the byte budget is measured and not stored.
  //
  // If `measure()` throws, nothing is stored and the exception reaches this
  // caller; callers that were waiting for it then go around again, and one
  // of them measures. If storing the result fails to allocate, the waiting
  // callers still get the result and this caller gets the exception.
  // `measure` may use the cache, but must not ask it for an equal key: that
  // call would wait for itself.
  template <typename Measure>
  requires std::is_invocable_r_v<CachedSize, Measure&> CachedSize
  getOrMeasure(const MeasurementCacheKey& key, Measure&& measure);

  // Stores `size` under `key`. A stored key gets the new value and becomes
  // the most recently used without evicting anything. A new key first evicts
  // least recently used entries until it fits both limits.
  VESK_EXPORT void set(const MeasurementCacheKey& key, CachedSize size);

  // Removes every entry whose key's markdown equals `markdown` (same length,
  // same bytes), whatever its other fields, and releases their bytes.
  VESK_EXPORT void removeMatchingMarkdown(const std::string& markdown);

  // Removes every entry, releases their bytes and resets every counter of
  // stats(): a cleared cache reports what a new one does. Keeps the limits.
  VESK_EXPORT void clear() noexcept;

  // What the cache holds and what it did since it was built or last cleared,
  // read in one acquisition of the lock (see MeasurementCacheStats).
  VESK_EXPORT MeasurementCacheStats stats() const;

  VESK_EXPORT MeasurementCacheLimits limits() const;

  // Makes `limits` the cache's limits. Entries that no longer fit are evicted
  // at once, least recently used first, until both hold (counted in stats()
  // as evictions). Limits that cannot hold an entry are refused with
  // std::invalid_argument; growing the index may fail to allocate. Either
  // way nothing changes.
  VESK_EXPORT void setLimits(MeasurementCacheLimits limits);

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

  // The index holds its own copy of each key with the key's hash, computed
  // from the caller's key before the lock is taken; it never hashes a key
  // itself. A caller's key travels with its hash as a HashedKey.
  using HashedKey = detail::HashedKey;
  using Index = detail::HashedKeyMap<EntryList::iterator>;

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

  // A measurement in progress, shared by the caller measuring it and the
  // callers waiting for it.
  struct PendingMeasurement : std::enable_shared_from_this<PendingMeasurement> {
    enum State : std::uint32_t { kMeasuring, kMeasured, kAbandoned };

    PendingMeasurement(const MeasurementCacheKey& measuredKey,
                       std::uint64_t keyHash)
        : key(measuredKey), hash(keyHash) {}

    // Read, linked and counted only under the cache's lock, while listed in
    // its pending_: the measuring caller unlinks it before its key goes away,
    // and no caller joins `waiters` after that.
    const MeasurementCacheKey& key;
    std::uint64_t hash;
    PendingMeasurement* previous = nullptr;
    PendingMeasurement* next = nullptr;
    std::uint64_t waiters = 0;

    // Written by the measuring caller before it stores kMeasured (release);
    // read by waiters after they load it (acquire).
    CachedSize result;
    std::atomic<std::uint32_t> state{kMeasuring};
  };
  using PendingClaim = std::shared_ptr<PendingMeasurement>;

  // Throws std::invalid_argument for unusable limits; returns how many keys
  // the index must hold without rehashing under them.
  static std::size_t indexCapacityFor(const MeasurementCacheLimits& limits);

  // Under the lock, for set() and for a measured getOrMeasure(): the stored
  // value of an equal key is updated; a new key evicts until it fits, then is
  // inserted; a key over the current budget (which may have shrunk since it
  // was checked) is refused.
  void storeLocked(const HashedKey& probe, std::uint64_t charge,
                   CachedSize size) VESK_REQUIRES(lock_);
  void evictLeastRecentlyUsed() noexcept VESK_REQUIRES(lock_);
  // Unlinks the slot from the list and its entry from the index, into
  // `removed`, and releases its bytes; frees nothing.
  void moveOut(EntryList::iterator slot, EntryList& removed) noexcept
      VESK_REQUIRES(lock_);

  // getOrMeasure()'s steps; each takes the lock itself. lookUpOrClaim()
  // returns true with `out` set on a hit, or once another caller's
  // measurement of an equal key is done; otherwise it returns false with
  // `claim` set, and this caller must measure, then call storeMeasured() or,
  // if measuring threw, abandonMeasurement().
  VESK_EXPORT bool lookUpOrClaim(const HashedKey& probe, CachedSize& out,
                                 PendingClaim& claim) VESK_EXCLUDES(lock_);
  VESK_EXPORT void storeMeasured(const HashedKey& probe, std::uint64_t charge,
                                 CachedSize size, PendingClaim& claim)
      VESK_EXCLUDES(lock_);
  VESK_EXPORT void abandonMeasurement(PendingClaim& claim) noexcept
      VESK_EXCLUDES(lock_);
  // The measurement in progress of a key equal to the probe's, or null. Reads
  // no key whose hash differs.
  VESK_EXPORT PendingMeasurement* findPending(const HashedKey& probe) const
      VESK_REQUIRES(lock_);
  void unlinkPending(PendingMeasurement& pending) noexcept VESK_REQUIRES(lock_);

  // Calls `measure` and counts it, with the time it took, also when it
  // throws.
  template <typename Measure>
  CachedSize runMeasurement(Measure& measure);

  // What the operations did; each counter is changed only under the lock.
  struct Counters {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    std::uint64_t insertions = 0;
    std::uint64_t updates = 0;
    std::uint64_t evictionsByEntryLimit = 0;
    std::uint64_t evictionsByByteBudget = 0;
    std::uint64_t removals = 0;
    std::uint64_t waits = 0;
  };

  // Invariants between operations:
  //  - entries_ and index_ hold the same number of elements, at most
  //    limits_.maxEntries, and are in one-to-one correspondence: every slot's
  //    `indexed` designates the index entry whose value designates that slot;
  //  - accountedBytes_ is the sum of entryCharge over entries_ and is at most
  //    limits_.byteBudget, which byteBudget_ mirrors;
  //  - every index entry's stored hash is MeasurementCacheKeyHash of its key;
  //  - index_ has buckets for indexCapacity_ keys, at least as many as the
  //    limits let it hold (set() evicts before it inserts), so it rehashes
  //    only when setLimits() raises indexCapacity_, which then points every
  //    slot's `indexed` at its index entry again before releasing the lock:
  //    the iterators the slots hold stay valid for as long as their index
  //    entries exist;
  //  - pending_ lists the measurements in progress of getOrMeasure(), each
  //    once; a listed measurement's key is its measuring caller's, alive
  //    until that caller unlinks it.
  //  All of them are touched only under lock_.
  mutable SpinThenParkLock lock_;
  MeasurementCacheLimits limits_ VESK_GUARDED_BY(lock_);
  std::size_t indexCapacity_ VESK_GUARDED_BY(lock_) = 0;
  std::uint64_t accountedBytes_ VESK_GUARDED_BY(lock_) = 0;
  EntryList entries_ VESK_GUARDED_BY(lock_);  // front = most recently used
  Index index_ VESK_GUARDED_BY(lock_);
  PendingMeasurement* pending_ VESK_GUARDED_BY(lock_) = nullptr;
  Counters counters_ VESK_GUARDED_BY(lock_);
  // A copy of limits_.byteBudget, so that an oversized key is refused without
  // the lock. A refusal read against a budget that changes meanwhile is as if
  // it ran before the change; stores check the budget again under the lock.
  std::atomic<std::uint64_t> byteBudget_;
  // Counted by calls that take no lock (a refused set()) or before they take
  // it (a measurement); they order nothing, hence relaxed.
  std::atomic<std::uint64_t> refusals_{0};
  std::atomic<std::uint64_t> measurements_{0};
  std::atomic<std::uint64_t> measurementNanoseconds_{0};
};

template <typename Measure>
requires std::is_invocable_r_v<CachedSize, Measure&> CachedSize
MeasurementCache::getOrMeasure(const MeasurementCacheKey& key,
                               Measure&& measure) {
  const std::uint64_t charge = entryCharge(key);
  if (charge > byteBudget_.load(std::memory_order_relaxed)) {
    const CachedSize size = runMeasurement(measure);
    refusals_.fetch_add(1, std::memory_order_relaxed);
    return size;
  }
  const HashedKey probe{key, MeasurementCacheKeyHash{}(key)};
  CachedSize size;
  PendingClaim claim;
  if (lookUpOrClaim(probe, size, claim)) return size;
  try {
    size = runMeasurement(measure);
  } catch (...) {
    abandonMeasurement(claim);
    throw;
  }
  storeMeasured(probe, charge, size, claim);
  return size;
}

template <typename Measure>
CachedSize MeasurementCache::runMeasurement(Measure& measure) {
  struct Count {
    explicit Count(MeasurementCache& counting) : cache(counting) {}
    MeasurementCache& cache;
    std::chrono::steady_clock::time_point start =
        std::chrono::steady_clock::now();
    Count(const Count&) = delete;
    Count& operator=(const Count&) = delete;
    ~Count() {
      const auto took = std::chrono::steady_clock::now() - start;
      cache.measurements_.fetch_add(1, std::memory_order_relaxed);
      cache.measurementNanoseconds_.fetch_add(
          static_cast<std::uint64_t>(
              std::chrono::duration_cast<std::chrono::nanoseconds>(took)
                  .count()),
          std::memory_order_relaxed);
    }
  };
  const Count count(*this);
  return std::invoke(measure);
}

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_H_
