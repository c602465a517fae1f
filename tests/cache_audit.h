#ifndef VESK_TESTS_CACHE_AUDIT_H_
#define VESK_TESTS_CACHE_AUDIT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cache/measurement_cache.h"
#include "tests/cache_test_helpers.h"

namespace morvane::vesk {

// Read-only view of a cache's internals for tests. Reading through it changes
// nothing, the recency order included. Not synchronised, so not checked by
// the thread-safety analysis: use it while no other thread uses the cache.
class MeasurementCacheInspector {
 public:
  using Lock = MeasurementCache::Lock;

  explicit MeasurementCacheInspector(const MeasurementCache& cache)
      : cache_(cache) {}

  [[nodiscard]] std::uint64_t accountedBytes() const
      VESK_NO_THREAD_SAFETY_ANALYSIS {
    return cache_.accountedBytes_;
  }

  // How many entries the index holds before an insertion makes it rehash.
  [[nodiscard]] std::uint64_t indexRoom() const VESK_NO_THREAD_SAFETY_ANALYSIS {
    const auto& index = cache_.index_;
    return static_cast<std::uint64_t>(
        static_cast<double>(index.bucket_count()) * index.max_load_factor());
  }

  // Checks every invariant that ties the list, the index and the byte count
  // together.
  [[nodiscard]] ::testing::AssertionResult invariantsHold() const
      VESK_NO_THREAD_SAFETY_ANALYSIS;

  // How many callers wait for the measurement in progress of a key equal to
  // `key` (0 when none runs); each of them has parked (or its wait is over)
  // by the time this returns. Takes the cache's lock, so it may be called
  // while other threads use the cache.
  [[nodiscard]] std::uint64_t waitingFor(const MeasurementCacheKey& key) const;

  // The cache's lock, for tests that hold it themselves or check whether it
  // is held at some point of an operation.
  [[nodiscard]] Lock& lock() const { return cache_.lock_; }

  // The index's key comparison, applied to any two records with a `key` and
  // a `hash` member, for tests that watch what it compares.
  template <typename A, typename B>
  static bool indexKeysEqual(const A& a, const B& b) {
    return detail::HashFirstEqual{}(a, b);
  }

 private:
  const MeasurementCache& cache_;
};

// Base for cache tests: audits the cache's invariants after every test.
class AuditedCacheTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(MeasurementCacheInspector(cache_).invariantsHold());
  }
  std::uint64_t accountedBytes() const {
    return MeasurementCacheInspector(cache_).accountedBytes();
  }
  bool contains(const MeasurementCacheKey& key) {
    CachedSize ignored;
    return cache_.get(key, ignored);
  }

  MeasurementCache cache_;
};

}  // namespace morvane::vesk

#endif  // VESK_TESTS_CACHE_AUDIT_H_
