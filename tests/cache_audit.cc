#include "tests/cache_audit.h"

#include <algorithm>
#include <unordered_set>

namespace morvane::vesk {

::testing::AssertionResult MeasurementCacheInspector::invariantsHold() const {
  cache_.settleRecency();
  const auto& entries = cache_.entries_;
  const auto& index = cache_.index_;
  if (entries.size() != index.size() || cache_.entryCount() != index.size()) {
    return ::testing::AssertionFailure()
           << entries.size() << " entries listed but " << index.size()
           << " indexed (entryCount " << cache_.entryCount() << ")";
  }
  const MeasurementCacheLimits limits = cache_.limits_;
  if (index.size() > limits.maxEntries) {
    return ::testing::AssertionFailure()
           << index.size() << " entries stored, limit " << limits.maxEntries;
  }
  if (cache_.byteBudget_.load() != limits.byteBudget) {
    return ::testing::AssertionFailure()
           << "the budget read without the lock is "
           << cache_.byteBudget_.load() << ", the limits' "
           << limits.byteBudget;
  }
  if (cache_.pending_ != nullptr) {
    return ::testing::AssertionFailure()
           << "a measurement is still listed as in progress";
  }
  std::uint64_t charged = 0;
  std::unordered_set<const void*> indexEntriesSeen;
  for (auto slot = entries.begin(); slot != entries.end(); ++slot) {
    const MeasurementCacheKey& key = slot->entry.key;
    charged += entryCharge(key);
    if (!indexEntriesSeen.insert(&*slot->indexed).second) {
      return ::testing::AssertionFailure()
             << "two entries share one index entry";
    }
    if (slot->indexed->second != slot) {
      return ::testing::AssertionFailure()
             << "index entry does not lead back to its list entry";
    }
    const std::uint64_t hash = MeasurementCacheKeyHash{}(key);
    if (slot->indexed->first.hash != hash) {
      return ::testing::AssertionFailure()
             << "index entry stores a hash that is not its key's";
    }
    if (key == key) {  // a key holding a NaN equals nothing, itself included
      const auto found = index.find(MeasurementCache::HashedKey{key, hash});
      if (found == index.end() || found->second != slot) {
        return ::testing::AssertionFailure()
               << "listed key of " << key.markdown.size()
               << " markdown bytes is not found through the index";
      }
    }
  }
  if (charged != cache_.accountedBytes_) {
    return ::testing::AssertionFailure()
           << "accounted " << cache_.accountedBytes_ << " bytes, entries cost "
           << charged;
  }
  if (charged > limits.byteBudget) {
    return ::testing::AssertionFailure() << charged << " bytes over budget";
  }
  return ::testing::AssertionSuccess();
}

std::uint64_t MeasurementCacheInspector::waitingFor(
    const MeasurementCacheKey& key) const {
  const MeasurementCache::HashedKey probe{key, MeasurementCacheKeyHash{}(key)};
  std::uint64_t waiters = 0;
  {
    const MeasurementCache::Exclusive lock(cache_);
    const MeasurementCache::PendingMeasurement* pending =
        cache_.findPending(probe);
    if (pending != nullptr) waiters = pending->waiters;
  }
  // Each of them began its wait before it was counted: once the waits begun
  // so far have parked, so have these.
  detail::WaitForGraph::settle();
  return waiters;
}

}  // namespace morvane::vesk
