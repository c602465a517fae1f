#ifndef VESK_TESTS_REFERENCE_CACHE_H_
#define VESK_TESTS_REFERENCE_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cache/cached_size.h"
#include "cache/measurement_cache_key.h"

namespace morvane::vesk::testing {

// Key equality as the cache promises it, written out field by field without
// MeasurementCacheKey::operator== or keyFields(): strings by bytes, doubles by
// IEEE equality (so +0.0 == -0.0 and a NaN equals nothing), the rest exactly.
bool keysEqual(const MeasurementCacheKey& a, const MeasurementCacheKey& b);

// Identity of two key copies: every field the same, doubles compared by bit
// pattern. A key holding a NaN is identical to its copies although it equals
// none of them.
bool sameKey(const MeasurementCacheKey& a, const MeasurementCacheKey& b);

// Identity of two values, by bit pattern.
bool sameSize(CachedSize a, CachedSize b);

// 2 * (the six string lengths + 280), computed here without entryCharge().
std::uint64_t referenceCharge(const MeasurementCacheKey& key);

// The cache's observable behaviour in its plainest form: a vector ordered
// from most to least recently used, searched linearly, with the bytes summed
// on demand. Slow and obviously correct; not thread-safe. The fuzzer runs it
// beside the cache, and the linearizability test replays candidate orders of
// concurrent calls on copies of it: entries share their immutable keys, so a
// copy costs a pointer per entry, not the texts.
class ReferenceCache {
 public:
  static constexpr std::size_t kMaxEntries = 512;
  static constexpr std::uint64_t kByteBudget = std::uint64_t{8} * 1024 * 1024;

  struct Entry {
    [[nodiscard]] const MeasurementCacheKey& key() const { return *storedKey; }

    std::shared_ptr<const MeasurementCacheKey> storedKey;
    CachedSize size;
  };

  ReferenceCache() = default;
  ReferenceCache(std::size_t maxEntries, std::uint64_t byteBudget)
      : maxEntries_(maxEntries), byteBudget_(byteBudget) {}

  bool get(const MeasurementCacheKey& key, CachedSize& out);
  void set(const MeasurementCacheKey& key, CachedSize size);
  // get(), and on a miss set(key, measured); returns what the caller gets.
  CachedSize getOrMeasure(const MeasurementCacheKey& key, CachedSize measured);
  // New limits (usable ones only): evicts from the back until both hold.
  void setLimits(std::size_t maxEntries, std::uint64_t byteBudget);
  void removeMatchingMarkdown(const std::string& markdown);
  void clear() { entries_.clear(); }

  // Most recently used first.
  [[nodiscard]] const std::vector<Entry>& entries() const { return entries_; }
  [[nodiscard]] std::uint64_t bytes() const;

  // What set() has done so far, for the fuzzer's run statistics.
  struct Counts {
    std::uint64_t refused = 0;          // keys charged over the budget
    std::uint64_t evictedForCount = 0;  // evicted for the entry limit
    std::uint64_t evictedForBytes = 0;  // evicted to fit the byte budget
  };
  [[nodiscard]] const Counts& counts() const { return counts_; }

 private:
  // Index of the first entry whose key equals `key`, or entries_.size().
  [[nodiscard]] std::size_t find(const MeasurementCacheKey& key) const;
  void moveToFront(std::size_t position);

  std::size_t maxEntries_ = kMaxEntries;
  std::uint64_t byteBudget_ = kByteBudget;
  std::vector<Entry> entries_;
  Counts counts_;
};

}  // namespace morvane::vesk::testing

#endif  // VESK_TESTS_REFERENCE_CACHE_H_
