#include "measurement_cache.h"

#include <iterator>
#include <tuple>
#include <utility>

namespace morvane::vesk {

MeasurementCache& MeasurementCache::shared() {
  static MeasurementCache instance;
  return instance;
}

MeasurementCache::MeasurementCache() {
  // Reserving for the most keys the index ever holds means it never rehashes,
  // so the iterators kept in the slots stay valid. No other thread can see
  // the cache yet; the lock only satisfies the analysis.
  const SpinThenParkLockGuard lock(lock_);
  index_.reserve(kMaxEntries);
}

bool MeasurementCache::get(const MeasurementCacheKey& key, CachedSize& out) {
  const HashedKey probe{key, MeasurementCacheKeyHash{}(key)};
  const SpinThenParkLockGuard lock(lock_);
  const auto found = index_.find(probe);
  if (found == index_.end()) {
    ++counters_.misses;
    return false;
  }
  ++counters_.hits;
  const EntryList::iterator slot = found->second;
  entries_.splice(entries_.begin(), entries_, slot);
  out = slot->entry.size;
  return true;
}

void MeasurementCache::set(const MeasurementCacheKey& key, CachedSize size) {
  const std::uint64_t charge = entryCharge(key);
  if (charge > kByteBudget) {
    refusals_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const HashedKey probe{key, MeasurementCacheKeyHash{}(key)};

  const SpinThenParkLockGuard lock(lock_);
  if (const auto found = index_.find(probe); found != index_.end()) {
    const EntryList::iterator slot = found->second;
    slot->entry.size = size;
    entries_.splice(entries_.begin(), entries_, slot);
    ++counters_.updates;
    return;
  }

  // Room first, so that the new copies never coexist with the entries they
  // displace. `key` may be the stored key of the very entry that eviction
  // reaches (a key holding a NaN is never found, so passing one back from
  // forEachEntry inserts anew): that slot is unindexed and uncharged like any
  // evicted one, but kept to serve as the new entry's list copy, which it
  // equals byte for byte.
  EntryList fresh;
  while (!entries_.empty() && (index_.size() >= kMaxEntries ||
                               accountedBytes_ + charge > kByteBudget)) {
    ++(index_.size() >= kMaxEntries ? counters_.evictionsByEntryLimit
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
    fresh.push_front(Slot{CacheEntry{key, size}, {}, {}});
  } else {
    fresh.front().entry.size = size;
  }
  Slot& slot = fresh.front();
  slot.indexed = index_
                     .emplace(std::piecewise_construct,
                              std::forward_as_tuple(slot.entry.key, probe.hash),
                              std::forward_as_tuple(fresh.begin()))
                     .first;
  entries_.splice(entries_.begin(), fresh);
  accountedBytes_ += charge;
  ++counters_.insertions;
}

void MeasurementCache::removeMatchingMarkdown(const std::string& markdown) {
  // Removed slots, with their index entries, are freed after the lock is
  // released, when `removed` goes out of scope. Until then `markdown` stays
  // readable even when it is the text of a removed entry.
  EntryList removed;
  const SpinThenParkLockGuard lock(lock_);
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
  const SpinThenParkLockGuard lock(lock_);
  while (!entries_.empty()) moveOut(entries_.begin(), removed);
  counters_ = Counters{};
  refusals_.store(0, std::memory_order_relaxed);
}

std::uint64_t MeasurementCache::entryCount() const noexcept {
  const SpinThenParkLockGuard lock(lock_);
  return index_.size();
}

MeasurementCacheStats MeasurementCache::stats() const {
  const SpinThenParkLockGuard lock(lock_);
  return MeasurementCacheStats{
      .entries = index_.size(),
      .accountedBytes = accountedBytes_,
      .hits = counters_.hits,
      .misses = counters_.misses,
      .insertions = counters_.insertions,
      .updates = counters_.updates,
      .refusals = refusals_.load(std::memory_order_relaxed),
      .evictionsByEntryLimit = counters_.evictionsByEntryLimit,
      .evictionsByByteBudget = counters_.evictionsByByteBudget,
      .removals = counters_.removals,
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
