#include "baseline/measurement_cache.h"

#include <algorithm>

namespace morvane::vesk {

MeasurementCache& MeasurementCache::shared() {
  static MeasurementCache instance;
  return instance;
}

void MeasurementCache::set(const MeasurementCacheKey& key, CachedSize size) {
  std::lock_guard lock(mutex_);
  if (const auto found = index_.find(key); found != index_.end()) {
    found->second->size = size;
    entries_.splice(entries_.begin(), entries_, found->second);
    return;
  }

  entries_.push_front(CacheEntry{key, size});
  try {
    index_.emplace(key, entries_.begin());
  } catch (...) {
    // An entry that cannot be indexed must not stay listed.
    entries_.pop_front();
    throw;
  }
  if (index_.size() > kMaxEntries) evictLeastRecentlyUsed();
}

void MeasurementCache::clear() noexcept {
  entries_.clear();
  index_.clear();
}

void MeasurementCache::evictLeastRecentlyUsed() noexcept {
  const auto victim = std::prev(entries_.end());
  // Lookup by key finds the index entry of every key that equals itself. A
  // key holding a NaN equals nothing, so its index entry is found by what it
  // maps to instead; only such keys pay for that scan.
  auto indexed = index_.find(victim->key);
  if (indexed == index_.end() || indexed->second != victim) {
    indexed = std::find_if(index_.begin(), index_.end(), [&](const auto& item) {
      return item.second == victim;
    });
  }
  if (indexed != index_.end()) index_.erase(indexed);
  entries_.erase(victim);
}

}  // namespace morvane::vesk
