#include "cache/measurement_cache.h"

#include <utility>

namespace morvane::vesk {

MeasurementCache& MeasurementCache::shared() {
  static MeasurementCache instance;
  return instance;
}

MeasurementCache::MeasurementCache() {
  // set() indexes a new key before evicting for it, so the index briefly
  // holds one key more than the limit. Reserving for that many up front means
  // the index never rehashes and slot iterators stay valid.
  index_.reserve(kMaxEntries + 1);
}

bool MeasurementCache::get(const MeasurementCacheKey& key, CachedSize& out) {
  const HashedKey probe{key, MeasurementCacheKeyHash{}(key)};
  std::lock_guard lock(mutex_);
  const auto found = index_.find(probe);
  if (found == index_.end()) return false;
  const EntryList::iterator slot = found->second;
  entries_.splice(entries_.begin(), entries_, slot);
  out = slot->entry.size;
  return true;
}

void MeasurementCache::set(const MeasurementCacheKey& key, CachedSize size) {
  const std::uint64_t charge = entryCharge(key);
  if (charge > kByteBudget) return;

  std::lock_guard lock(mutex_);
  // One hash of the caller's key serves both the lookup and, on a miss, the
  // insertion. A failure here (copying the key, allocating the node) leaves
  // the cache untouched.
  const auto [indexed, inserted] = index_.try_emplace(key);
  if (!inserted) {
    const EntryList::iterator slot = indexed->second;
    slot->entry.size = size;
    entries_.splice(entries_.begin(), entries_, slot);
    return;
  }

  // The new key is indexed but not yet listed, so eviction (which takes
  // listed entries from the back) cannot reach it, and index_.size() counts
  // it: the entries already stored number index_.size() - 1.
  while (!entries_.empty() && (index_.size() > kMaxEntries ||
                               accountedBytes_ + charge > kByteBudget)) {
    evictLeastRecentlyUsed();
  }

  try {
    // Copied from the index's copy, not from `key`: a key holding a NaN is
    // never found, so `key` may be a stored entry's own key (a reference
    // kept from forEachEntry) that the loop above has just evicted.
    entries_.push_front(Slot{CacheEntry{indexed->first, size}, indexed});
  } catch (...) {
    index_.erase(indexed);
    throw;
  }
  indexed->second = entries_.begin();
  accountedBytes_ += charge;
}

void MeasurementCache::removeMatchingMarkdown(const std::string& markdown) {
  const auto erase = [this](EntryList::iterator slot) {
    accountedBytes_ -= entryCharge(slot->entry.key);
    index_.erase(slot->indexed);
    return entries_.erase(slot);
  };
  std::lock_guard lock(mutex_);
  // `markdown` may be the text of a stored key (a reference kept from
  // forEachEntry); that entry is erased last, when nothing compares with it.
  auto owner = entries_.end();
  for (auto slot = entries_.begin(); slot != entries_.end();) {
    if (slot->entry.key.markdown != markdown) {
      ++slot;
    } else if (&slot->entry.key.markdown == &markdown) {
      owner = slot++;
    } else {
      slot = erase(slot);
    }
  }
  if (owner != entries_.end()) erase(owner);
}

void MeasurementCache::clear() noexcept {
  entries_.clear();
  index_.clear();  // keeps the reserved buckets
  accountedBytes_ = 0;
}

void MeasurementCache::evictLeastRecentlyUsed() noexcept {
  Slot& victim = entries_.back();
  accountedBytes_ -= entryCharge(victim.entry.key);
  index_.erase(victim.indexed);
  entries_.pop_back();
}

}  // namespace morvane::vesk
