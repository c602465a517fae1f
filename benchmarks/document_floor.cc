#include "benchmarks/document_floor.h"

#include "benchmarks/benchmark_keys.h"
#include "cache/entry_charge.h"
#include "cache/measurement_cache_key_hash.h"

namespace morvane::vesk {

DocumentFloor::Copies::Copies(const MeasurementCacheKey& key, CachedSize size)
    : entry{key, size}, second(key) {}

DocumentFloor::DocumentFloor() : ring_(kBudgetedMaxEntries) {}

void DocumentFloor::set(const MeasurementCacheKey& key, CachedSize size) {
  const std::uint64_t charge = entryCharge(key);
  if (charge > kBudgetedByteBudget) return;
  hashFold_ = hashFold_ * 31 + MeasurementCacheKeyHash{}(key);
  while (count_ > 0 && (count_ == ring_.size() ||
                        accounted_ + charge > kBudgetedByteBudget)) {
    dropOldest();
  }
  ring_[(oldest_ + count_) % ring_.size()].emplace(key, size);
  ++count_;
  accounted_ += charge;
}

void DocumentFloor::clear() noexcept {
  while (count_ > 0) dropOldest();
  oldest_ = 0;
}

void DocumentFloor::dropOldest() noexcept {
  std::optional<Copies>& slot = ring_[oldest_];
  accounted_ -= entryCharge(slot->entry.key);
  slot.reset();
  oldest_ = (oldest_ + 1) % ring_.size();
  --count_;
}

}  // namespace morvane::vesk
