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
#include "per_thread_read_lock.h"
#include "thread_safety_annotations.h"
#include "wait_for_graph.h"

namespace morvane::vesk {

// A least-recently-used cache of text measurements, bounded twice: at most
// limits().maxEntries entries and at most limits().byteBudget accounted
// bytes, where an entry is charged entryCharge(key) for the two key copies it
// keeps. The limits are chosen at construction (512 entries and 8 MiB unless
// given) and may be changed at any time with setLimits().
//
// Thread safety: shared(), get(), getOrMeasure(), set(),
// removeMatchingMarkdown(), clear(), entryCount(), stats(), limits() and
// setLimits() may be called from any thread at any time; the result is as if
// the calls ran one at a time, in an order that keeps the order of calls that
// did not overlap, and the recency order is exact in that order. forEachEntry()
// and destruction: only while no other thread uses the cache. shared() must
// not be called, nor its instance used, once exit-time destruction has begun
// (a thread still running when main returns).
//
// How hits scale: the lock is a PerThreadReadLock. A hit (get(), or
// getOrMeasure() finding the key) holds it shared: it writes only its own
// thread's slot, where it logs the entry it found, stamped, instead of moving
// it to the front; it neither allocates (but for a thread's first call, which
// numbers the thread) nor waits. A set() of a stored key does the same,
// writing the new value under the entry's version, which hits read around.
// Every other operation holds the lock exclusively, and first moves the
// logged entries to the front in stamp order, so the list is exact whenever
// anything can observe it. A hit or an update runs as a writer instead when
// a writer still holds the lock after it waited for it briefly, when its
// thread's log is full (once in 1024 of a thread's hits), when another
// thread shares its slot, or when it races an update of the same entry. Each operation takes the lock once through a
// scope-bound guard and calls nothing outside the cache while holding it.
//
// One measurement per key: getOrMeasure() runs its measuring function outside
// the lock, and callers that miss an equal key while it runs wait for its
// result instead of measuring again; callers of other keys are not held up.
// A caller never waits for a measurement that waits for it, in this cache
// or any other: it measures instead (see getOrMeasure()).
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
// them. Besides the keys, the index keeps about one bucket pointer per
// entry stored (it grows with the entries, as std::unordered_map does, and
// keeps its buckets when entries go), and the lock its slots: 16 to 64
// (twice the hardware threads) of 16 KiB each.
//
// Misses and refusals: a miss is reported only by get() returning false. A key
// whose entryCharge exceeds the byte budget is never stored: set() returns
// after reading six string lengths, without locking, hashing or evicting, and
// getOrMeasure() measures it without looking it up.
//
// Failures: allocation failure inside set() or getOrMeasure() (a new entry,
// or the index growing for it) propagates as an exception with the lock
// released; entries already evicted stay evicted, nothing is half-inserted
// and every invariant holds. Limits that cannot hold an entry are refused
// with std::invalid_argument, changing nothing. Taking the lock cannot fail,
// and no other operation throws.
//
// Complexity: get(), getOrMeasure() and set() hash the caller's key once and
// otherwise run in constant time plus one index erase per evicted entry,
// which hashes nothing (a getOrMeasure() miss also scans the measurements in
// progress, one per thread measuring at most, and one about to wait walks
// the chain of waits from it, one step per thread), amortised over the index's
// growth; an operation that holds the lock exclusively also moves the entries
// logged by hits since the last one, merging the logs of the threads that
// made them; removeMatchingMarkdown() and clear() are linear in the entries
// stored; setLimits() in the entries it evicts.
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
  // (maxEntries 0, or a byteBudget below kSmallestEntryCharge), and
  // std::bad_alloc. {SIZE_MAX, UINT64_MAX} is a cache without limits.
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
  //
  // What `measure` may do: use this cache and any other, getOrMeasure()
  // included, for any key, an equal one too. A caller that would wait for a
  // measurement whose measurer is, directly or through other measurers,
  // waiting for this caller's thread (its own measurement of an equal key,
  // or a cycle of threads asking for each other's keys, across caches too)
  // does not wait: it calls its own `measure` and stores the result as set()
  // would, while the measurement it found goes on. What the cache cannot
  // see, `measure` must not do: wait by other means (a lock, a future) for a
  // thread that waits in getOrMeasure() for this measurement.
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
  // A getOrMeasure() call that missed before clear() and ends after it is
  // counted wholly before it: its measurement, or its wait, is not counted.
  VESK_EXPORT void clear() noexcept;

  // What the cache holds and what it did since it was built or last cleared,
  // read in one acquisition of the lock (see MeasurementCacheStats).
  VESK_EXPORT MeasurementCacheStats stats() const;

  VESK_EXPORT MeasurementCacheLimits limits() const;

  // Makes `limits` the cache's limits. Entries that no longer fit are evicted
  // at once, least recently used first, until both hold (counted in stats()
  // as evictions). Limits that cannot hold an entry are refused with
  // std::invalid_argument, changing nothing. Allocates nothing: raising the
  // limits costs nothing until entries come.
  VESK_EXPORT void setLimits(MeasurementCacheLimits limits);

  // Number of stored entries.
  VESK_EXPORT std::uint64_t entryCount() const noexcept;

  // Calls `visit` with each stored entry, most recently used first, without
  // changing the order. Not synchronised while it visits (hence unchecked by
  // the analysis): no other thread may use the cache meanwhile, and `visit`
  // must not use it.
  template <std::invocable<const CacheEntry&> Visitor>
  void forEachEntry(Visitor&& visit) const VESK_NO_THREAD_SAFETY_ANALYSIS {
    settleRecency();
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
    Slot(const MeasurementCacheKey& key, CachedSize size) : entry{key, size} {}

    CacheEntry entry;
    // Odd while an update holding the lock shared writes entry.size; each
    // such update adds 2. A reader holding the lock shared reads the size
    // between two equal even readings, so that it never sees half of one.
    // Updates holding the lock exclusively, or with no reader possible, leave
    // it alone.
    std::atomic<std::uint32_t> version{0};
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
  // callers waiting for it. Made on the measuring caller's thread.
  struct PendingMeasurement : std::enable_shared_from_this<PendingMeasurement> {
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
    // Those of the waiters whose misses were counted since the last clear():
    // the waits counted when the result comes.
    std::uint64_t countedWaiters = 0;

    // Written by the measuring caller before it ends `graph` as measured;
    // read by waiters once their wait for it ended so.
    CachedSize result;
    // Its measurer and its end, for the waiters and the check for cycles.
    detail::WaitForGraph::Measurement graph;
  };

  // What a caller that measures after a miss carries to storing the result.
  struct Claim {
    // Its measurement, listed for callers of equal keys to wait for; null
    // when it measures unlisted, because waiting would have closed a cycle.
    std::shared_ptr<PendingMeasurement> pending;
    // clears_ when its miss was counted, and how long measuring took: the
    // measurement is counted when its result is stored or dropped, unless a
    // clear() came between, so that a call is counted wholly on one side.
    std::uint64_t clears = 0;
    std::uint64_t nanoseconds = 0;
  };

  using Lock = PerThreadReadLock<EntryList::iterator, 1024, 3>;
  // What hits count in their own slots of the lock.
  enum SlotCount : std::size_t { kSlotHits, kSlotMisses, kSlotUpdates };

  // Holds the lock exclusively for its lifetime, having first moved the
  // entries that hits logged to the front, in the order of the hits.
  class VESK_SCOPED_CAPABILITY Exclusive {
   public:
    // Exported for the tests' inspector, which takes the lock this way.
    VESK_EXPORT explicit Exclusive(const MeasurementCache& cache) noexcept
        VESK_ACQUIRE(cache.lock_);
    VESK_EXPORT ~Exclusive() VESK_RELEASE();
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

   private:
    const MeasurementCache& cache_;
  };

  // Throws std::invalid_argument for limits that cannot hold an entry.
  static void checkLimits(const MeasurementCacheLimits& limits);

  // Moves the entries hits logged to the front, oldest hit first.
  void applyLoggedHits() const noexcept VESK_REQUIRES(lock_);
  // forEachEntry()'s first step: the logged hits applied, so that the list
  // is in recency order.
  VESK_EXPORT void settleRecency() const noexcept;
  // A hit or a miss that holds the lock shared. Returns false, having done
  // nothing, when the lock cannot be had so; otherwise `hit` tells which,
  // `out` is set on a hit, and a miss is counted when `countMiss` says so.
  bool findShared(const HashedKey& probe, CachedSize& out, bool& hit,
                  bool countMiss) const noexcept VESK_EXCLUDES(lock_);
  // set()'s update of a stored key holding the lock shared: writes the new
  // size under the slot's version and logs the entry as a hit does. Returns
  // false, having done nothing, when the lock cannot be had so or another
  // update of the key is under way; otherwise `updated` tells whether the
  // key was stored (and is now updated).
  bool updateShared(const HashedKey& probe, CachedSize size,
                    bool& updated) noexcept VESK_EXCLUDES(lock_);
  // Runs `attempt` (findShared or updateShared); if a writer turned it
  // away, waits for the writer to leave and runs it once more, rather than
  // queue for the lock and sleep. Whether an attempt held the lock shared.
  template <typename Attempt>
  bool twiceShared(Attempt&& attempt) const noexcept {
    return attempt() || (lock_.awaitWriter() && attempt());
  }
  // The same under the exclusive lock: moves a hit to the front.
  bool findExclusive(const HashedKey& probe, CachedSize& out) noexcept
      VESK_REQUIRES(lock_);

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
  // `claim` set (its `pending` listed, or null where waiting would close a
  // cycle), and this caller must measure, then call storeMeasured() or, if
  // measuring threw, abandonMeasurement().
  VESK_EXPORT bool lookUpOrClaim(const HashedKey& probe, CachedSize& out,
                                 Claim& claim) VESK_EXCLUDES(lock_);
  VESK_EXPORT void storeMeasured(const HashedKey& probe, std::uint64_t charge,
                                 CachedSize size, Claim& claim)
      VESK_EXCLUDES(lock_);
  VESK_EXPORT void abandonMeasurement(Claim& claim) noexcept
      VESK_EXCLUDES(lock_);
  // Counts the claim's measurement, unless a clear() came after its miss.
  void countMeasurement(const Claim& claim) noexcept VESK_REQUIRES(lock_);
  // The measurement in progress of a key equal to the probe's, or null. Reads
  // no key whose hash differs.
  // Inline, so that the tests' inspector reaches it in a shared build too.
  PendingMeasurement* findPending(const HashedKey& probe) const
      VESK_REQUIRES(lock_) {
    for (PendingMeasurement* pending = pending_; pending != nullptr;
         pending = pending->next) {
      if (pending->hash == probe.hash && pending->key == probe.key) {
        return pending;
      }
    }
    return nullptr;
  }
  void unlinkPending(PendingMeasurement& pending) noexcept VESK_REQUIRES(lock_);

  // Calls `measure` and sets `nanoseconds` to the time it took, also when
  // it throws.
  template <typename Measure>
  static CachedSize runMeasurement(Measure& measure,
                                   std::uint64_t& nanoseconds);
  void addMeasurement(std::uint64_t nanoseconds) noexcept {
    measurements_.fetch_add(1, std::memory_order_relaxed);
    measurementNanoseconds_.fetch_add(nanoseconds, std::memory_order_relaxed);
  }

  // What the operations did; each counter is changed only under the lock
  // held exclusively. Hits and misses counted under it held shared are in
  // lock_'s slots.
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
  //    `indexed` designates the index entry whose value designates that slot
  //    (an insertion that makes the index rehash points every slot at its
  //    index entry again before the lock is released);
  //  - entries_ is in recency order once the hits logged in lock_ are applied
  //    (every exclusive holder applies them first); a logged entry is still
  //    stored, since removing one needs the lock exclusively;
  //  - accountedBytes_ is the sum of entryCharge over entries_ and is at most
  //    limits_.byteBudget, which byteBudget_ mirrors;
  //  - every index entry's stored hash is MeasurementCacheKeyHash of its key;
  //  - pending_ lists the measurements in progress of getOrMeasure(), each
  //    once; a listed measurement's key is its measuring caller's, alive
  //    until that caller unlinks it;
  //  - clears_ counts the calls of clear(), which tells the counters which
  //    side of a clear() a getOrMeasure() call that straddles it is on.
  //  Held shared, lock_ lets a hit read index_, limits_ and a stored value;
  //  everything else is read or written only under it exclusively.
  mutable Lock lock_;
  MeasurementCacheLimits limits_ VESK_GUARDED_BY(lock_);
  std::uint64_t accountedBytes_ VESK_GUARDED_BY(lock_) = 0;
  // Front = most recently used. Mutable: applying logged hits, which const
  // operations do too, only brings the list up to the order the hits made.
  mutable EntryList entries_ VESK_GUARDED_BY(lock_);
  Index index_ VESK_GUARDED_BY(lock_);
  PendingMeasurement* pending_ VESK_GUARDED_BY(lock_) = nullptr;
  Counters counters_ VESK_GUARDED_BY(lock_);
  std::uint64_t clears_ VESK_GUARDED_BY(lock_) = 0;
  // A copy of limits_.byteBudget, so that an oversized key is refused without
  // the lock. A refusal read against a budget that changes meanwhile is as if
  // it ran before the change; stores check the budget again under the lock.
  std::atomic<std::uint64_t> byteBudget_;
  // Counted by calls that take no lock (a refused set() or getOrMeasure())
  // or under it exclusively (the measurement of a miss); they order nothing,
  // hence relaxed.
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
    std::uint64_t nanoseconds = 0;
    try {
      const CachedSize size = runMeasurement(measure, nanoseconds);
      addMeasurement(nanoseconds);
      refusals_.fetch_add(1, std::memory_order_relaxed);
      return size;
    } catch (...) {
      addMeasurement(nanoseconds);
      throw;
    }
  }
  const HashedKey probe{key, MeasurementCacheKeyHash{}(key)};
  CachedSize size;
  Claim claim;
  if (lookUpOrClaim(probe, size, claim)) return size;
  try {
    size = runMeasurement(measure, claim.nanoseconds);
  } catch (...) {
    abandonMeasurement(claim);
    throw;
  }
  storeMeasured(probe, charge, size, claim);
  return size;
}

template <typename Measure>
CachedSize MeasurementCache::runMeasurement(Measure& measure,
                                            std::uint64_t& nanoseconds) {
  struct Timer {
    explicit Timer(std::uint64_t& timed) : took(timed) {}
    std::uint64_t& took;
    std::chrono::steady_clock::time_point start =
        std::chrono::steady_clock::now();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() {
      took = static_cast<std::uint64_t>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(
              std::chrono::steady_clock::now() - start)
              .count());
    }
  };
  const Timer timer(nanoseconds);
  return std::invoke(measure);
}

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_H_
