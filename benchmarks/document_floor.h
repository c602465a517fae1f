#ifndef VESK_BENCHMARKS_DOCUMENT_FLOOR_H_
#define VESK_BENCHMARKS_DOCUMENT_FLOOR_H_

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cache/cached_size.h"
#include "cache/measurement_cache_entry.h"
#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// The memory work the byte-budgeted cache cannot avoid on the document
// workload, done with no cache at all: set() hashes the key once with
// MeasurementCacheKeyHash, drops the oldest kept documents while either limit
// of the budgeted cache (512 documents, 8 MiB charged by entryCharge) would be
// exceeded, and keeps two copies of the key, as the cache keeps one in its
// recency list and one in its index. No lookup, index, list node or lock.
//
// It offers what runDocumentBenchmark needs, so the workload runs over it
// unchanged and the two timings divide. It takes every key as new, which the
// workload's keys are, so it keeps exactly the documents the cache keeps.
// Not thread-safe.
class DocumentFloor {
 public:
  using CacheEntry = MeasurementCacheEntry;

  DocumentFloor();

  void set(const MeasurementCacheKey& key, CachedSize size);
  void clear() noexcept;
  [[nodiscard]] std::uint64_t entryCount() const noexcept { return count_; }
  [[nodiscard]] std::uint64_t accountedBytes() const noexcept { return accounted_; }

  // The hashes of every key set so far, folded together, so that no
  // compiler drops the hashing.
  [[nodiscard]] std::uint64_t hashFold() const noexcept { return hashFold_; }

  // Calls `visit` with each kept document, newest first.
  template <std::invocable<const CacheEntry&> Visitor>
  void forEachEntry(Visitor&& visit) const {
    for (std::size_t i = count_; i-- > 0;) {
      visit(ring_[(oldest_ + i) % ring_.size()]->entry);
    }
  }

 private:
  struct Copies {
    Copies(const MeasurementCacheKey& key, CachedSize size);
    CacheEntry entry;
    MeasurementCacheKey second;
  };

  void dropOldest() noexcept;

  std::vector<std::optional<Copies>> ring_;  // a slot per document allowed
  std::size_t oldest_ = 0;
  std::size_t count_ = 0;
  std::uint64_t accounted_ = 0;
  std::uint64_t hashFold_ = 0;
};

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_DOCUMENT_FLOOR_H_
