#ifndef VESK_TESTS_CACHE_AUDIT_H_
#define VESK_TESTS_CACHE_AUDIT_H_

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cache/measurement_cache.h"
#include "tests/cache_test_helpers.h"

namespace morvane::vesk {

// Read-only view of a cache's internals for tests. Reading through it changes
// nothing, the recency order included. Not synchronised.
class MeasurementCacheInspector {
 public:
  explicit MeasurementCacheInspector(const MeasurementCache& cache)
      : cache_(cache) {}

  [[nodiscard]] std::uint64_t accountedBytes() const {
    return cache_.accountedBytes_;
  }

  // Checks every invariant that ties the list, the index and the byte count
  // together.
  [[nodiscard]] ::testing::AssertionResult invariantsHold() const;

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
