#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "benchmarks/benchmark_keys.h"
#include "benchmarks/key_bytes.h"
#include "benchmarks/rocksdb_measurement_cache.h"
#include "cache/entry_charge.h"

namespace morvane::vesk {
namespace {

using Kind = RocksDbMeasurementCache::Kind;

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

// Every key's digest is the same, so that every two keys collide.
RocksDbMeasurementCache::Digest sameDigest(std::string_view) { return {}; }

class RocksDbMeasurementCacheTest : public ::testing::TestWithParam<Kind> {};

TEST_P(RocksDbMeasurementCacheTest, FindsWhatItStoredAndNothingElse) {
  RocksDbMeasurementCache cache(GetParam(), kMiB, 512);
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

  // Set again: the new value replaces the old, charged once.
  cache.set(key, {5.0, 6.0});
  ASSERT_TRUE(cache.get(key, out));
  EXPECT_EQ(out.width, 5.0);
  EXPECT_EQ(cache.entryCount(), 1u);
  EXPECT_EQ(cache.totalCharge(), entryCharge(key));
}

// Keys whose digests collide: a lookup compares the whole key, so the key
// not stored misses rather than reading the other's value, and storing it
// replaces the other.
TEST(RocksDbMeasurementCache, HyperClockTellsKeysWithOneDigestApart) {
  RocksDbMeasurementCache cache(Kind::kHyperClock, kMiB, 512, &sameDigest);
  const MeasurementCacheKey first = benchmarkKey(4096, 1);
  const MeasurementCacheKey second = benchmarkKey(4096, 2);
  cache.set(first, {1.0, 1.0});
  CachedSize out{9.0, 9.0};
  EXPECT_FALSE(cache.get(second, out));
  EXPECT_EQ(out.width, 9.0);
  cache.set(second, {2.0, 2.0});
  EXPECT_FALSE(cache.get(first, out));
  ASSERT_TRUE(cache.get(second, out));
  EXPECT_EQ(out.width, 2.0);
  EXPECT_EQ(cache.entryCount(), 1u);
}

TEST(RocksDbMeasurementCache, DigestsTellKeysApartAndRepeat) {
  std::string a;
  std::string b;
  serializeKey(benchmarkKey(64, 1), a);
  serializeKey(benchmarkKey(64, 2), b);
  EXPECT_EQ(RocksDbMeasurementCache::digestOf(a),
            RocksDbMeasurementCache::digestOf(a));
  EXPECT_NE(RocksDbMeasurementCache::digestOf(a),
            RocksDbMeasurementCache::digestOf(b));
  // A shorter prefix, and the same bytes one longer with a zero byte.
  EXPECT_NE(RocksDbMeasurementCache::digestOf(a),
            RocksDbMeasurementCache::digestOf(std::string_view(a).substr(1)));
  EXPECT_NE(RocksDbMeasurementCache::digestOf(a),
            RocksDbMeasurementCache::digestOf(a + std::string(1, '\0')));
}

TEST_P(RocksDbMeasurementCacheTest, EvictsToStayWithinItsCapacity) {
  const MeasurementCacheKey probe = benchmarkKey(4096, 0);
  RocksDbMeasurementCache cache(GetParam(), kMiB, entryCharge(probe));
  for (const MeasurementCacheKey& key : benchmarkKeys(2000, 4096)) {
    cache.set(key, {1, 1});
  }
  EXPECT_LE(cache.totalCharge(), kMiB);
  EXPECT_LT(cache.entryCount(), 2000u);
  EXPECT_GT(cache.entryCount(), 0u);
  EXPECT_EQ(cache.totalCharge(), cache.entryCount() * entryCharge(probe));
  // The last key stored is kept, the first long gone.
  CachedSize out;
  EXPECT_TRUE(cache.get(benchmarkKey(4096, 1999), out));
  EXPECT_FALSE(cache.get(probe, out));
}

INSTANTIATE_TEST_SUITE_P(Kinds, RocksDbMeasurementCacheTest,
                         ::testing::Values(Kind::kLru, Kind::kHyperClock),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return info.param == Kind::kLru ? "Lru" : "HyperClock";
                         });

}  // namespace
}  // namespace morvane::vesk
