#include <new>
#include <string>

#include <gtest/gtest.h>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"
#include "tests/counting_allocator.h"

namespace morvane::vesk {
namespace {

using testing::allocationsOnThisThread;
using testing::disarmAllocationFailure;
using testing::failNthAllocationOnThisThread;

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

// A key whose copies allocate for two of their strings.
MeasurementCacheKey twoLongStrings(char letter) {
  MeasurementCacheKey key = keyOfLength(kMiB, letter);
  key.string3.assign(1000, letter);
  return key;
}

// Fails each allocation of one set() in turn, on a cache prepared afresh by
// `prepare`, and checks what a failed set() must leave behind. Returns how
// many allocations the set() makes when nothing fails.
template <typename Prepare, typename AfterFailure>
int failEachAllocationOfSet(Prepare prepare, const MeasurementCacheKey& key,
                            AfterFailure afterFailure) {
  for (int n = 1;; ++n) {
    MeasurementCache cache;
    prepare(cache);
    failNthAllocationOnThisThread(n);
    bool threw = false;
    try {
      cache.set(key, {5, 5});
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool fired = disarmAllocationFailure();
    EXPECT_EQ(threw, fired) << "allocation " << n;
    EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold())
        << "after failing allocation " << n;
    CachedSize out;
    if (!fired) {
      EXPECT_TRUE(cache.get(key, out));
      return n - 1;
    }
    EXPECT_FALSE(cache.get(key, out)) << "allocation " << n;
    afterFailure(cache);
    // Still usable: the same set() now succeeds.
    cache.set(key, {6, 6});
    EXPECT_TRUE(cache.get(key, out));
    EXPECT_EQ(out.width, 6);
    EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
  }
}

TEST(MeasurementCacheAllocationFailure, InsertingSetLeavesTheCacheWhole) {
  const int allocations = failEachAllocationOfSet(
      [](MeasurementCache& cache) {
        cache.set(twoLongStrings('a'), {1, 1});
        cache.set(keyFor("small"), {2, 2});
      },
      twoLongStrings('b'),
      [](MeasurementCache& cache) {
        EXPECT_EQ(cache.entryCount(), 2u);
        EXPECT_EQ(markdownsInOrder(cache),
                  (std::vector<std::string>{"small", std::string(kMiB, 'a')}));
      });
  // Index node and list node, two strings in each of the two key copies.
  EXPECT_EQ(allocations, 6);
}

TEST(MeasurementCacheAllocationFailure, EvictingSetLeavesTheCacheWhole) {
  const int allocations = failEachAllocationOfSet(
      [](MeasurementCache& cache) {
        cache.set(twoLongStrings('a'), {1, 1});
        cache.set(twoLongStrings('b'), {1, 1});
        cache.set(twoLongStrings('c'), {1, 1});
      },
      twoLongStrings('d'),
      [](MeasurementCache& cache) {
        // Evictions done before the failure may stand; the newest survive.
        CachedSize out;
        EXPECT_TRUE(cache.get(twoLongStrings('c'), out));
        EXPECT_TRUE(cache.get(twoLongStrings('b'), out));
      });
  EXPECT_EQ(allocations, 6);
}

TEST(MeasurementCacheAllocations, HitsAndRefusalsAllocateNothing) {
  MeasurementCache cache;
  const MeasurementCacheKey key = keyOfLength(4096, 'h');
  const MeasurementCacheKey absent = keyOfLength(4096, 'm');
  cache.set(key, {1, 1});
  CachedSize out;
  std::uint64_t before = allocationsOnThisThread();
  EXPECT_TRUE(cache.get(key, out));
  EXPECT_FALSE(cache.get(absent, out));
  cache.set(key, {2, 2});  // update
  EXPECT_EQ(allocationsOnThisThread(), before);

  const MeasurementCacheKey oversized = keyOfLength(5 * kMiB, 'o');
  before = allocationsOnThisThread();
  cache.set(oversized, {3, 3});
  EXPECT_EQ(allocationsOnThisThread(), before);
}

TEST(MeasurementCacheAllocations, InsertingSetMakesOnlyTheTwoCopies) {
  MeasurementCache cache;
  for (int i = 0; i < 512; ++i) cache.set(keyFor(std::to_string(i)), {1, 1});
  // A markdown-only key: index node, list node and one text buffer per copy,
  // also when the insertion evicts.
  const MeasurementCacheKey key = keyOfLength(4096, 'i');
  const std::uint64_t before = allocationsOnThisThread();
  cache.set(key, {1, 1});
  EXPECT_EQ(allocationsOnThisThread() - before, 4u);
}

}  // namespace
}  // namespace morvane::vesk
