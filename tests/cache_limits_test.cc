#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"

namespace morvane::vesk {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;

// Ten keys "k0" .. "k9" of one charge each, stored oldest first.
constexpr std::uint64_t kTenKeyCharge = 2 * (2 + kEntryOverheadBytes);
void storeTenKeys(MeasurementCache& cache) {
  for (int i = 0; i < 10; ++i) {
    cache.set(keyFor("k" + std::to_string(i)), {static_cast<double>(i), 1});
  }
}

struct UnusableLimits {
  const char* name;
  MeasurementCacheLimits limits;
};

void PrintTo(const UnusableLimits& c, std::ostream* out) { *out << c.name; }

class UnusableLimitsTest : public ::testing::TestWithParam<UnusableLimits> {};

// (An index that cannot be allocated is refused with the allocator's
// exception, changing nothing: see the allocation tests.)
TEST_P(UnusableLimitsTest, AreRefusedAndChangeNothing) {
  const MeasurementCacheLimits limits = GetParam().limits;
  const auto expectRefused = [&](auto call) {
    EXPECT_THROW(call(), std::invalid_argument);
  };
  expectRefused([&] { MeasurementCache refused(limits); });

  MeasurementCache cache({20, kMiB});
  storeTenKeys(cache);
  const MeasurementCacheStats before = cache.stats();
  const std::vector<std::string> order = markdownsInOrder(cache);
  expectRefused([&] { cache.setLimits(limits); });
  EXPECT_EQ(cache.limits(), (MeasurementCacheLimits{20, kMiB}));
  EXPECT_EQ(cache.stats(), before);
  EXPECT_EQ(markdownsInOrder(cache), order);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

INSTANTIATE_TEST_SUITE_P(
    MeasurementCacheLimits, UnusableLimitsTest,
    ::testing::Values(UnusableLimits{"NoEntries", {0, kMiB}},
                      UnusableLimits{"BudgetBelowAnEmptyKey",
                                     {512, kSmallestEntryCharge - 1}},
                      UnusableLimits{"NoBudget", {512, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MeasurementCacheLimits, SmallestUsableLimitsHoldOneEmptyKey) {
  MeasurementCache cache({1, kSmallestEntryCharge});
  cache.set(keyFor(""), {1, 1});
  cache.set(keyFor("x"), {2, 2});  // charged 562: refused, evicts nothing
  CachedSize out;
  EXPECT_TRUE(cache.get(keyFor(""), out));
  EXPECT_EQ(cache.stats().refusals, 1u);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

TEST(MeasurementCacheLimits, DefaultsAreThoseOfTheSharedCache) {
  EXPECT_EQ(MeasurementCache().limits(), MeasurementCacheLimits{});
  EXPECT_EQ(MeasurementCache::shared().limits(),
            (MeasurementCacheLimits{MeasurementCache::kMaxEntries,
                                    MeasurementCache::kByteBudget}));
}

struct Shrinking {
  const char* name;
  MeasurementCacheLimits limits;
  std::vector<std::string> kept;  // most recently used first
  std::uint64_t byEntryLimit;
  std::uint64_t byByteBudget;
};

void PrintTo(const Shrinking& c, std::ostream* out) { *out << c.name; }

class ShrinkingLimitsTest : public ::testing::TestWithParam<Shrinking> {};

// k0 is read before shrinking, so it is the most recently used and stays.
TEST_P(ShrinkingLimitsTest, EvictsLeastRecentlyUsedUntilBothLimitsHold) {
  MeasurementCache cache;
  storeTenKeys(cache);
  CachedSize out;
  ASSERT_TRUE(cache.get(keyFor("k0"), out));
  cache.setLimits(GetParam().limits);

  EXPECT_EQ(markdownsInOrder(cache), GetParam().kept);
  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.evictionsByEntryLimit, GetParam().byEntryLimit);
  EXPECT_EQ(stats.evictionsByByteBudget, GetParam().byByteBudget);
  EXPECT_EQ(cache.limits(), GetParam().limits);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());

  // The new limits hold for later stores too.
  cache.set(keyFor("kA"), {10, 1});  // charged as each of the ten
  EXPECT_EQ(markdownsInOrder(cache).size(), GetParam().kept.size());
  EXPECT_EQ(markdownsInOrder(cache).front(), "kA");
}

INSTANTIATE_TEST_SUITE_P(
    MeasurementCacheLimits, ShrinkingLimitsTest,
    ::testing::Values(
        Shrinking{"Entries",
                  {4, MeasurementCache::kByteBudget},
                  {"k0", "k9", "k8", "k7"},
                  6,
                  0},
        Shrinking{"Bytes", {512, 3 * kTenKeyCharge}, {"k0", "k9", "k8"}, 0, 7},
        // Five by the entry limit, then two more for the budget.
        Shrinking{"Both", {5, 3 * kTenKeyCharge}, {"k0", "k9", "k8"}, 5, 2},
        Shrinking{"ToWhatIsStored",
                  {10, 10 * kTenKeyCharge},
                  {"k0", "k9", "k8", "k7", "k6", "k5", "k4", "k3", "k2", "k1"},
                  0,
                  0}),
    [](const auto& info) { return std::string(info.param.name); });

// Growing past the buckets reserved so far rehashes the index; every entry,
// a NaN key's included (found only through its slot), must still be
// reachable and evictable afterwards.
TEST(MeasurementCacheLimits, GrowingKeepsEveryEntryReachableAndEvictable) {
  MeasurementCache cache({8, kMiB});
  MeasurementCacheKey nan = keyFor("nan");
  nan.real1 = std::numeric_limits<double>::quiet_NaN();
  cache.set(nan, {0, 0});
  for (int i = 1; i < 8; ++i) cache.set(keyFor(std::to_string(i)), {1, 1});

  cache.setLimits({4000, 64 * kMiB});
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
  for (int i = 8; i < 4000; ++i) cache.set(keyFor(std::to_string(i)), {1, 1});
  EXPECT_EQ(cache.entryCount(), 4000u);
  CachedSize out;
  for (int i = 1; i < 4000; ++i) {
    ASSERT_TRUE(cache.get(keyFor(std::to_string(i)), out)) << i;
  }
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());

  // The NaN key is now the least recently used: the next store evicts it
  // through its slot.
  cache.set(keyFor("new"), {1, 1});
  EXPECT_EQ(cache.entryCount(), 4000u);
  EXPECT_EQ(markdownsInOrder(cache).back(), "1");
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

// The budget that refuses a key is the cache's own, also after it changes.
TEST(MeasurementCacheLimits, RefusalFollowsTheCachesOwnBudget) {
  const MeasurementCacheKey fiveMiB = keyOfLength(5 * kMiB, 'f');  // 10 MiB
  MeasurementCache large({512, 16 * kMiB});
  large.set(fiveMiB, {1, 1});
  CachedSize out;
  EXPECT_TRUE(large.get(fiveMiB, out));

  large.setLimits({512, 8 * kMiB});
  EXPECT_FALSE(large.get(fiveMiB, out));
  large.set(fiveMiB, {1, 1});
  EXPECT_FALSE(large.get(fiveMiB, out));
  int measured = 0;
  for (int i = 0; i < 2; ++i) {
    large.getOrMeasure(fiveMiB, [&] {
      ++measured;
      return CachedSize{2, 2};
    });
  }
  EXPECT_EQ(measured, 2);
  const MeasurementCacheStats stats = large.stats();
  EXPECT_EQ(stats.refusals, 3u);
  EXPECT_EQ(stats.evictionsByByteBudget, 1u);
  EXPECT_EQ(stats.entries, 0u);
  EXPECT_TRUE(MeasurementCacheInspector(large).invariantsHold());
}

// The budget can shrink while a key is measured, here by the measuring
// function itself: the result is stored against the budget of the moment,
// which refuses it, and the call still returns it.
TEST(MeasurementCacheLimits, AMeasurementStoredAfterTheBudgetShrankIsRefused) {
  const MeasurementCacheKey key = keyOfLength(1000, 'm');
  ASSERT_EQ(entryCharge(key), 2560u);
  MeasurementCache cache({512, kMiB});
  const CachedSize size = cache.getOrMeasure(key, [&] {
    cache.setLimits({512, kSmallestEntryCharge + 10});
    return CachedSize{4, 4};
  });
  EXPECT_EQ(size.width, 4);
  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.entries, 0u);
  EXPECT_EQ(stats.accountedBytes, 0u);
  EXPECT_EQ(stats.refusals, 1u);
  EXPECT_EQ(stats.insertions, 0u);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

TEST(MeasurementCacheLimits, ClearKeepsTheLimits) {
  MeasurementCache cache({3, kMiB});
  storeTenKeys(cache);
  cache.clear();
  EXPECT_EQ(cache.limits(), (MeasurementCacheLimits{3, kMiB}));
  storeTenKeys(cache);
  EXPECT_EQ(cache.entryCount(), 3u);
}

}  // namespace
}  // namespace morvane::vesk
