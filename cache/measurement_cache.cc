#include "measurement_cache.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace morvane::vesk {

MeasurementCache& MeasurementCache::shared() {
  static MeasurementCache instance;
  return instance;
}

MeasurementCache::MeasurementCache()
    : MeasurementCache(MeasurementCacheLimits{}) {}

MeasurementCache::MeasurementCache(MeasurementCacheLimits limits)
    : byteBudget_(limits.byteBudget) {
  checkLimits(limits);
  // No other thread can see the cache yet; the lock only satisfies the
  // analysis.
  const Exclusive lock(*this);
  limits_ = limits;
}

MeasurementCache::Exclusive::Exclusive(const MeasurementCache& cache) noexcept
    : cache_(cache) {
  cache_.lock_.lock();
  cache_.applyLoggedHits();
}

MeasurementCache::Exclusive::~Exclusive() { cache_.lock_.unlock(); }

void MeasurementCache::applyLoggedHits() const noexcept {
  // The analysis does not carry the lock into the lambda, which runs here.
  lock_.replay(
      [this](EntryList::iterator slot) VESK_NO_THREAD_SAFETY_ANALYSIS {
        entries_.splice(entries_.begin(), entries_, slot);
      },
      // A hit's entry was last moved on another core, most likely: fetch
      // its links (which share the entry's first line) before the splice.
      [](EntryList::iterator slot) { __builtin_prefetch(&*slot, 1); });
}

void MeasurementCache::settleRecency() const noexcept {
  const Exclusive lock(*this);
}

void MeasurementCache::checkLimits(const MeasurementCacheLimits& limits) {
  if (limits.maxEntries == 0) {
    throw std::invalid_argument("MeasurementCache: maxEntries must be >= 1");
  }
  if (limits.byteBudget < kSmallestEntryCharge) {
    throw std::invalid_argument(
        "MeasurementCache: byteBudget must be >= 560, the charge of an empty "
        "key");
  }
}

MeasurementCacheLimits MeasurementCache::limits() const {
  const Exclusive lock(*this);
  return limits_;
}

void MeasurementCache::setLimits(MeasurementCacheLimits limits) {
  checkLimits(limits);
  // Evicted slots, with their index entries, are freed after the lock is
  // released, when `removed` goes out of scope.
  EntryList removed;
  const Exclusive lock(*this);
  limits_ = limits;
  byteBudget_.store(limits.byteBudget, std::memory_order_relaxed);
  while (index_.size() > limits.maxEntries ||
         accountedBytes_ > limits.byteBudget) {
    ++(index_.size() > limits.maxEntries ? counters_.evictionsByEntryLimit
                                         : counters_.evictionsByByteBudget);
    moveOut(std::prev(entries_.end()), removed);
  }
}

namespace {

// The stored size as updates holding the cache's lock shared write it.
CachedSize loadSize(const CachedSize& size) noexcept {
  return {std::atomic_ref<const double>(size.width)
              .load(std::memory_order_relaxed),
          std::atomic_ref<const double>(size.height)
              .load(std::memory_order_relaxed)};
}

void storeSize(CachedSize& stored, CachedSize size) noexcept {
  std::atomic_ref<double>(stored.width)
      .store(size.width, std::memory_order_relaxed);
  std::atomic_ref<double>(stored.height)
      .store(size.height, std::memory_order_relaxed);
}

}  // namespace

bool MeasurementCache::findShared(const HashedKey& probe, CachedSize& out,
                                  bool& hit, bool countMiss) const noexcept {
  Lock::Reader reader;
  if (!lock_.tryLockShared(reader)) return false;
  const auto found = index_.find(probe);
  hit = found != index_.end();
  bool done = true;
  if (hit) {
    // A seqlock read: the size and the hit's stamp are taken while the
    // version stays even and unchanged, so an update that wrote the size
    // this hit saw was stamped before it, and one it did not see after it.
    // The acquire load pairs with the update's release store; the acquire
    // fence keeps the size loads before the second load of the version.
    const Slot& slot = *found->second;
    const std::uint32_t before = slot.version.load(std::memory_order_acquire);
    const CachedSize size = loadSize(slot.entry.size);
    const std::uint64_t stamp = Lock::stampNow();
    std::atomic_thread_fence(std::memory_order_acquire);
    done = (before & 1U) == 0 &&
           slot.version.load(std::memory_order_relaxed) == before;
    if (done) {
      out = size;
      lock_.record(reader, stamp, found->second);
      lock_.count(reader, kSlotHits);
    }
  } else if (countMiss) {
    lock_.count(reader, kSlotMisses);
  }
  lock_.unlockShared(reader);
  // Racing an update of the same entry: look again holding the lock
  // exclusively, which waits the update out.
  return done;
}

bool MeasurementCache::updateShared(const HashedKey& probe, CachedSize size,
                                    bool& updated) noexcept {
  Lock::Reader reader;
  if (!lock_.tryLockShared(reader)) return false;
  const auto found = index_.find(probe);
  updated = false;
  bool done = true;  // a key not stored is done with: it needs inserting
  if (found != index_.end()) {
    Slot& slot = *found->second;
    std::uint32_t version = slot.version.load(std::memory_order_relaxed);
    // Acquire on success, so that this update's writes follow the last
    // one's; a failure means another update of the entry is under way.
    done = (version & 1U) == 0 &&
           slot.version.compare_exchange_strong(version, version + 1,
                                                std::memory_order_acquire,
                                                std::memory_order_relaxed);
    if (done) {
      // The release fence keeps the odd version ahead of the size stores
      // for a reader that sees either store.
      std::atomic_thread_fence(std::memory_order_release);
      storeSize(slot.entry.size, size);
      lock_.record(reader, Lock::stampNow(), found->second);
      lock_.count(reader, kSlotUpdates);
      // Publishes the size to readers whose acquire load reads this.
      slot.version.store(version + 2, std::memory_order_release);
      updated = true;
    }
  }
  lock_.unlockShared(reader);
  return done;
}

bool MeasurementCache::findExclusive(const HashedKey& probe,
                                     CachedSize& out) noexcept {
  const auto found = index_.find(probe);
  if (found == index_.end()) return false;
  const EntryList::iterator slot = found->second;
  entries_.splice(entries_.begin(), entries_, slot);
  out = slot->entry.size;
  return true;
}

bool MeasurementCache::get(const MeasurementCacheKey& key, CachedSize& out) {
  const HashedKey probe{key, MeasurementCacheKeyHash{}(key)};
  bool hit = false;
  if (twiceShared([&] {
        return findShared(probe, out, hit, /*countMiss=*/true);
      })) {
    return hit;
  }
  const Exclusive lock(*this);
  hit = findExclusive(probe, out);
  ++(hit ? counters_.hits : counters_.misses);
  return hit;
}

void MeasurementCache::set(const MeasurementCacheKey& key, CachedSize size) {
  const std::uint64_t charge = entryCharge(key);
  if (charge > byteBudget_.load(std::memory_order_relaxed)) {
    refusals_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const HashedKey probe{key, MeasurementCacheKeyHash{}(key)};
  // A key the shared lookup did not find is not looked up shared again:
  // storeLocked() looks once more under the exclusive lock, since another
  // thread may have stored it in between.
  bool updated = false;
  if (twiceShared([&] { return updateShared(probe, size, updated); }) &&
      updated) {
    return;
  }
  const Exclusive lock(*this);
  storeLocked(probe, charge, size);
}

void MeasurementCache::storeLocked(const HashedKey& probe, std::uint64_t charge,
                                   CachedSize size) {
  if (charge > limits_.byteBudget) {
    refusals_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (const auto found = index_.find(probe); found != index_.end()) {
    const EntryList::iterator slot = found->second;
    slot->entry.size = size;
    entries_.splice(entries_.begin(), entries_, slot);
    ++counters_.updates;
    return;
  }

  // Room first, so that the new copies never coexist with the entries they
  // displace. The key may be the stored key of the very entry that eviction
  // reaches (a key holding a NaN is never found, so passing one back from
  // forEachEntry inserts anew): that slot is unindexed and uncharged like any
  // evicted one, but kept to serve as the new entry's list copy, which it
  // equals byte for byte.
  const MeasurementCacheKey& key = probe.key;
  EntryList fresh;
  while (!entries_.empty() && (index_.size() >= limits_.maxEntries ||
                               accountedBytes_ + charge > limits_.byteBudget)) {
    ++(index_.size() >= limits_.maxEntries ? counters_.evictionsByEntryLimit
                                           : counters_.evictionsByByteBudget);
    if (&entries_.back().entry.key == &key) {
      accountedBytes_ -= charge;
      index_.erase(entries_.back().indexed);
      fresh.splice(fresh.begin(), entries_, std::prev(entries_.end()));
    } else {
      evictLeastRecentlyUsed();
    }
  }

  // A failure in either copy leaves the cache as the evictions left it: the
  // new entry is in `fresh` until it is both listed and indexed.
  if (fresh.empty()) {
    fresh.emplace_front(key, size);
  } else {
    fresh.front().entry.size = size;
  }
  Slot& slot = fresh.front();
  const std::size_t buckets = index_.bucket_count();
  slot.indexed = index_
                     .emplace(std::piecewise_construct,
                              std::forward_as_tuple(slot.entry.key, probe.hash),
                              std::forward_as_tuple(fresh.begin()))
                     .first;
  if (index_.bucket_count() != buckets) {
    // The index grew, which invalidates its iterators.
    for (auto indexed = index_.begin(); indexed != index_.end(); ++indexed) {
      indexed->second->indexed = indexed;
    }
  }
  entries_.splice(entries_.begin(), fresh);
  accountedBytes_ += charge;
  ++counters_.insertions;
}

bool MeasurementCache::lookUpOrClaim(const HashedKey& probe, CachedSize& out,
                                     Claim& claim) {
  using Outcome = detail::WaitForGraph::Measurement::Outcome;
  bool hit = false;
  if (twiceShared([&] {
        return findShared(probe, out, hit, /*countMiss=*/false);
      }) &&
      hit) {
    return true;
  }
  bool counted = false;
  for (;;) {
    std::shared_ptr<PendingMeasurement> awaited;
    // Begun under the lock, and holding the graph's mutex until it parks,
    // so that the measurement cannot end unseen in between.
    std::optional<detail::WaitForGraph::Wait> wait;
    {
      const Exclusive lock(*this);
      if (findExclusive(probe, out)) {
        if (!counted) ++counters_.hits;
        return true;
      }
      // A miss is counted once it is known how the call ends: by waiting,
      // or by measuring under a record made beforehand.
      PendingMeasurement* other = findPending(probe);
      if ((other != nullptr || claim.pending) && !counted) {
        ++counters_.misses;
        counted = true;
        claim.clears = clears_;
      }
      if (other != nullptr) {
        wait.emplace(other->graph);
        if (!wait->began()) {
          // Its measurer waits for this thread: measure, unlisted.
          claim.pending.reset();
          return false;
        }
        ++other->waiters;
        if (claim.clears == clears_) ++other->countedWaiters;
        awaited = other->shared_from_this();
      } else if (claim.pending) {
        PendingMeasurement* const mine = claim.pending.get();
        mine->next = pending_;
        if (pending_ != nullptr) pending_->previous = mine;
        pending_ = mine;
        return false;
      }
    }
    if (!awaited) {
      // Nobody stores or measures the key: make this caller's record without
      // the lock, then look again, since another caller may come first.
      claim.pending =
          std::make_shared<PendingMeasurement>(probe.key, probe.hash);
      continue;
    }
    if (wait->untilEnded() == Outcome::kMeasured) {
      out = awaited->result;
      return true;
    }
    // The measurement threw: go around, and measure if nobody else does.
  }
}

void MeasurementCache::storeMeasured(const HashedKey& probe,
                                     std::uint64_t charge, CachedSize size,
                                     Claim& claim) {
  PendingMeasurement* const pending = claim.pending.get();
  if (pending != nullptr) pending->result = size;
  // Publishes the result once the lock is released (the guard below goes
  // first), also when storing it fails to allocate.
  struct Publication {
    explicit Publication(PendingMeasurement* published) : pending(published) {}
    PendingMeasurement* pending;
    bool wake = false;
    Publication(const Publication&) = delete;
    Publication& operator=(const Publication&) = delete;
    ~Publication() {
      if (wake) {
        detail::WaitForGraph::end(
            pending->graph,
            detail::WaitForGraph::Measurement::Outcome::kMeasured);
      }
    }
  } publication(pending);
  const Exclusive lock(*this);
  countMeasurement(claim);
  if (pending != nullptr) {
    unlinkPending(*pending);
    counters_.waits += pending->countedWaiters;
    publication.wake = pending->waiters != 0;
  }
  storeLocked(probe, charge, size);
}

void MeasurementCache::abandonMeasurement(Claim& claim) noexcept {
  PendingMeasurement* const pending = claim.pending.get();
  bool wake = false;
  {
    const Exclusive lock(*this);
    countMeasurement(claim);
    if (pending != nullptr) {
      unlinkPending(*pending);
      wake = pending->waiters != 0;
    }
  }
  if (wake) {
    detail::WaitForGraph::end(
        pending->graph, detail::WaitForGraph::Measurement::Outcome::kAbandoned);
  }
}

void MeasurementCache::countMeasurement(const Claim& claim) noexcept {
  if (claim.clears == clears_) addMeasurement(claim.nanoseconds);
}

void MeasurementCache::unlinkPending(PendingMeasurement& pending) noexcept {
  if (pending.previous != nullptr) {
    pending.previous->next = pending.next;
  } else {
    pending_ = pending.next;
  }
  if (pending.next != nullptr) pending.next->previous = pending.previous;
  pending.previous = nullptr;
  pending.next = nullptr;
}

void MeasurementCache::removeMatchingMarkdown(const std::string& markdown) {
  // Removed slots, with their index entries, are freed after the lock is
  // released, when `removed` goes out of scope. Until then `markdown` stays
  // readable even when it is the text of a removed entry.
  EntryList removed;
  const Exclusive lock(*this);
  for (auto slot = entries_.begin(); slot != entries_.end();) {
    const auto next = std::next(slot);
    if (slot->entry.key.markdown == markdown) {
      moveOut(slot, removed);
      ++counters_.removals;
    }
    slot = next;
  }
}

void MeasurementCache::clear() noexcept {
  // As in removeMatchingMarkdown(): unlinked under the lock, freed after it.
  // Extracting the index entries one by one, rather than swapping the index
  // out, keeps its reserved buckets without allocating new ones.
  EntryList removed;
  const Exclusive lock(*this);
  while (!entries_.empty()) moveOut(entries_.begin(), removed);
  counters_ = Counters{};
  // Calls that missed before are counted before: none of their measurements
  // or waits is counted from here on.
  ++clears_;
  for (PendingMeasurement* pending = pending_; pending != nullptr;
       pending = pending->next) {
    pending->countedWaiters = 0;
  }
  lock_.resetCounts();
  refusals_.store(0, std::memory_order_relaxed);
  measurements_.store(0, std::memory_order_relaxed);
  measurementNanoseconds_.store(0, std::memory_order_relaxed);
}

std::uint64_t MeasurementCache::entryCount() const noexcept {
  const Exclusive lock(*this);
  return index_.size();
}

MeasurementCacheStats MeasurementCache::stats() const {
  const Exclusive lock(*this);
  return MeasurementCacheStats{
      .entries = index_.size(),
      .accountedBytes = accountedBytes_,
      .hits = counters_.hits + lock_.counted(kSlotHits),
      .misses = counters_.misses + lock_.counted(kSlotMisses),
      .insertions = counters_.insertions,
      .updates = counters_.updates + lock_.counted(kSlotUpdates),
      .refusals = refusals_.load(std::memory_order_relaxed),
      .evictionsByEntryLimit = counters_.evictionsByEntryLimit,
      .evictionsByByteBudget = counters_.evictionsByByteBudget,
      .removals = counters_.removals,
      .measurements = measurements_.load(std::memory_order_relaxed),
      .measurementNanoseconds =
          measurementNanoseconds_.load(std::memory_order_relaxed),
      .waits = counters_.waits,
  };
}

void MeasurementCache::moveOut(EntryList::iterator slot,
                               EntryList& removed) noexcept {
  accountedBytes_ -= entryCharge(slot->entry.key);
  slot->releasedIndexEntry = index_.extract(slot->indexed);
  removed.splice(removed.end(), entries_, slot);
}

void MeasurementCache::evictLeastRecentlyUsed() noexcept {
  Slot& victim = entries_.back();
  accountedBytes_ -= entryCharge(victim.entry.key);
  index_.erase(victim.indexed);
  entries_.pop_back();
}

}  // namespace morvane::vesk
