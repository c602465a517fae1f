#include <cstdint>

#include <gtest/gtest.h>

#include "benchmarks/benchmark_keys.h"
#include "benchmarks/key_bytes.h"
#include "benchmarks/leveldb_measurement_cache.h"
#include "cache/entry_charge.h"

namespace morvane::vesk {
namespace {

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

TEST(LevelDbMeasurementCache, FindsWhatItStoredAndNothingElse) {
  LevelDbMeasurementCache cache(kMiB);
  const MeasurementCacheKey key = benchmarkKey(64, 1);
  MeasurementCacheKey other = key;
  other.string5 = "x";
  cache.set(key, {3.0, 4.0});
  CachedSize out{9.0, 9.0};
  EXPECT_FALSE(cache.get(other, out));
  EXPECT_EQ(out.width, 9.0);
  ASSERT_TRUE(cache.get(key, out));
  EXPECT_EQ(out.width, 3.0);
  EXPECT_EQ(out.height, 4.0);

  std::string bytes;
  serializeKey(key, bytes);
  out = {};
  ASSERT_TRUE(cache.getBytes(bytes, out));
  EXPECT_EQ(out.height, 4.0);
}

TEST(LevelDbMeasurementCache, ChargesEachEntryItsEntryCharge) {
  LevelDbMeasurementCache cache(kMiB);
  std::uint64_t charges = 0;
  for (const MeasurementCacheKey& key : benchmarkKeys(10, 4096)) {
    cache.set(key, {1, 1});
    charges += entryCharge(key);
  }
  EXPECT_EQ(cache.entryCount(), 10u);
  EXPECT_EQ(cache.totalCharge(), charges);
}

TEST(LevelDbMeasurementCache, SettingAKeyAgainReplacesItsValue) {
  LevelDbMeasurementCache cache(kMiB);
  const MeasurementCacheKey key = benchmarkKey(64, 1);
  cache.set(key, {1, 1});
  cache.set(key, {2, 2});
  EXPECT_EQ(cache.entryCount(), 1u);
  EXPECT_EQ(cache.totalCharge(), entryCharge(key));
  CachedSize out;
  ASSERT_TRUE(cache.get(key, out));
  EXPECT_EQ(out.width, 2.0);
}

TEST(LevelDbMeasurementCache, EvictsToStayWithinItsCapacityAndClears) {
  LevelDbMeasurementCache cache(kMiB);
  for (const MeasurementCacheKey& key : benchmarkKeys(2000, 4096)) {
    cache.set(key, {1, 1});
  }
  EXPECT_LE(cache.totalCharge(), kMiB);
  EXPECT_LT(cache.entryCount(), 2000u);
  EXPECT_GT(cache.entryCount(), 0u);
  cache.clear();
  EXPECT_EQ(cache.entryCount(), 0u);
  EXPECT_EQ(cache.totalCharge(), 0u);
  CachedSize out;
  EXPECT_FALSE(cache.get(benchmarkKey(4096, 1999), out));
}

}  // namespace
}  // namespace morvane::vesk
