#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <ostream>
#include <string>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"
#include "tests/counting_allocator.h"

namespace morvane::vesk {
namespace {

using testing::allocationsOnThisThread;
using testing::disarmAllocationFailure;
using testing::failNthAllocationOnThisThread;
using testing::liveBytesOnThisThread;
using testing::observeFreesOnThisThread;
using testing::peakLiveBytesOnThisThread;
using testing::resetPeakLiveBytesOnThisThread;

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

// A key whose copies allocate for two of their strings.
MeasurementCacheKey twoLongStrings(char letter) {
  MeasurementCacheKey key = keyOfLength(kMiB, letter);
  key.string3.assign(1000, letter);
  return key;
}

// The two calls that store a new key.
void storeBySet(MeasurementCache& cache, const MeasurementCacheKey& key) {
  cache.set(key, {5, 5});
}
void storeByMeasuring(MeasurementCache& cache, const MeasurementCacheKey& key) {
  cache.getOrMeasure(key, [] { return CachedSize{5, 5}; });
}

// Fails each allocation of one store in turn, on a cache prepared afresh by
// `prepare`, and checks what a failed store must leave behind. Returns how
// many allocations the store makes when nothing fails.
template <typename Prepare, typename AfterFailure>
int failEachAllocationOf(void (*store)(MeasurementCache&,
                                       const MeasurementCacheKey&),
                         Prepare prepare, const MeasurementCacheKey& key,
                         AfterFailure afterFailure) {
  for (int n = 1;; ++n) {
    MeasurementCache cache;
    prepare(cache);
    failNthAllocationOnThisThread(n);
    bool threw = false;
    try {
      store(cache, key);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool fired = disarmAllocationFailure();
    EXPECT_EQ(threw, fired) << "allocation " << n;
    EXPECT_FALSE(MeasurementCacheInspector(cache).lock().isLocked())
        << "lock still held after failing allocation " << n;
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

TEST(MeasurementCacheAllocationFailure, InsertingStoreLeavesTheCacheWhole) {
  const auto prepare = [](MeasurementCache& cache) {
    cache.set(twoLongStrings('a'), {1, 1});
    cache.set(keyFor("small"), {2, 2});
  };
  const auto afterFailure = [](MeasurementCache& cache) {
    EXPECT_EQ(cache.entryCount(), 2u);
    EXPECT_EQ(markdownsInOrder(cache),
              (std::vector<std::string>{"small", std::string(kMiB, 'a')}));
    EXPECT_EQ(cache.stats().waits, 0u);
  };
  // Index node and list node, two strings in each of the two key copies;
  // measuring first makes the record other callers would wait on.
  EXPECT_EQ(failEachAllocationOf(storeBySet, prepare, twoLongStrings('b'),
                                 afterFailure),
            6);
  EXPECT_EQ(failEachAllocationOf(storeByMeasuring, prepare, twoLongStrings('b'),
                                 afterFailure),
            7);
}

TEST(MeasurementCacheAllocationFailure, EvictingSetLeavesTheCacheWhole) {
  const int allocations = failEachAllocationOf(
      storeBySet,
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
  // A thread's first hit on any cache numbers the thread, once in its life.
  EXPECT_TRUE(cache.get(key, out));
  std::uint64_t before = allocationsOnThisThread();
  EXPECT_TRUE(cache.get(key, out));
  EXPECT_FALSE(cache.get(absent, out));
  cache.set(key, {2, 2});  // update
  EXPECT_EQ(cache.getOrMeasure(key, [] { return CachedSize{9, 9}; }).width, 2);
  EXPECT_EQ(allocationsOnThisThread(), before);

  const MeasurementCacheKey oversized = keyOfLength(5 * kMiB, 'o');
  before = allocationsOnThisThread();
  cache.set(oversized, {3, 3});
  EXPECT_EQ(cache.getOrMeasure(oversized,
                               [] {
                                 return CachedSize{4, 4};
                               })
                .width,
            4);
  EXPECT_EQ(allocationsOnThisThread(), before);
}

TEST(MeasurementCacheAllocationFailure, ConstructingThrowsWhatFailed) {
  failNthAllocationOnThisThread(1);
  EXPECT_THROW(MeasurementCache({100000, 64 * kMiB}), std::bad_alloc);
  EXPECT_TRUE(disarmAllocationFailure());
}

// The index grows with what is stored, not with the limits: raising them
// allocates nothing, and an insertion that makes the index grow fails whole.
TEST(MeasurementCacheAllocations, RaisingTheLimitsAllocatesNothing) {
  MeasurementCache cache;
  for (int i = 0; i < 6; ++i) cache.set(keyFor(std::to_string(i)), {1, 1});
  const std::uint64_t before = allocationsOnThisThread();
  cache.setLimits({std::numeric_limits<std::size_t>::max(),
                   std::numeric_limits<std::uint64_t>::max()});
  EXPECT_EQ(allocationsOnThisThread(), before);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

TEST(MeasurementCacheAllocationFailure, GrowingTheIndexLeavesTheCacheWhole) {
  // Full to the index's load factor, so that the next insertion rehashes.
  const auto prepare = [](MeasurementCache& cache) {
    for (int i = 0;
         cache.entryCount() < MeasurementCacheInspector(cache).indexRoom();
         ++i) {
      cache.set(keyFor("filler " + std::to_string(i)), {1, 1});
    }
  };
  MeasurementCache grown;
  prepare(grown);
  const std::size_t room = MeasurementCacheInspector(grown).indexRoom();
  grown.set(twoLongStrings('g'), {1, 1});
  ASSERT_GT(MeasurementCacheInspector(grown).indexRoom(), room);
  // The bucket array besides the two copies' six blocks.
  EXPECT_EQ(failEachAllocationOf(storeBySet, prepare, twoLongStrings('g'),
                                 [&](MeasurementCache& cache) {
                                   EXPECT_EQ(cache.entryCount(), room);
                                 }),
            7);
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

// Counts the blocks freed while a given lock is held, and in all.
struct FreesUnderLock {
  const MeasurementCacheInspector::Lock* lock;
  int underLock = 0;
  int all = 0;

  static void observe(void* context) {
    auto* self = static_cast<FreesUnderLock*>(context);
    ++self->all;
    if (self->lock->isLocked()) ++self->underLock;
  }
};

// A call that removes entries, and how many blocks it frees in all: each
// removed entry's list node, index node and the text buffers of both key
// copies. None of them may be freed while the lock is held, so that other
// threads do not wait for free().
struct RemovalCase {
  const char* name;
  std::function<void(MeasurementCache&)> call;
  int entriesLeft;
  int blocksFreed;
};

void PrintTo(const RemovalCase& removalCase, std::ostream* out) {
  *out << removalCase.name;
}

class FreeAfterUnlockTest : public ::testing::TestWithParam<RemovalCase> {};

TEST_P(FreeAfterUnlockTest, FreesNothingWhileHoldingTheLock) {
  MeasurementCache cache;
  // Texts too long for the strings' inline buffers: four blocks an entry.
  for (const char letter : {'a', 'b', 'c'}) {
    MeasurementCacheKey key = keyOfLength(64, letter);
    cache.set(key, {1, 1});
    key.integer = 1;
    cache.set(key, {2, 2});
  }
  FreesUnderLock frees{&MeasurementCacheInspector(cache).lock()};
  observeFreesOnThisThread(&FreesUnderLock::observe, &frees);
  GetParam().call(cache);
  observeFreesOnThisThread(nullptr, nullptr);
  EXPECT_EQ(frees.underLock, 0);
  EXPECT_EQ(frees.all, GetParam().blocksFreed);
  EXPECT_EQ(cache.entryCount(),
            static_cast<std::uint64_t>(GetParam().entriesLeft));
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

INSTANTIATE_TEST_SUITE_P(
    MeasurementCacheAllocations, FreeAfterUnlockTest,
    ::testing::Values(
        RemovalCase{"RemoveMatchingMarkdown",
                    [](MeasurementCache& cache) {
                      static const std::string markdown(64, 'b');
                      cache.removeMatchingMarkdown(markdown);
                    },
                    4, 8},
        RemovalCase{"Clear", [](MeasurementCache& cache) { cache.clear(); }, 0,
                    24},
        RemovalCase{"ShrinkingLimits",
                    [](MeasurementCache& cache) {
                      cache.setLimits({2, MeasurementCache::kByteBudget});
                    },
                    2, 16}),
    [](const auto& info) { return std::string(info.param.name); });

// A cache prepared for one set(), and the key that set() stores: `key` may
// refer into `cache` (a stored key passed back), so it is chosen once the cache
// is filled.
struct HeapDuringSetCase {
  const char* name;
  MeasurementCacheLimits limits;
  std::function<const MeasurementCacheKey&(MeasurementCache&,
                                           std::vector<MeasurementCacheKey>&)>
      prepare;
};

void PrintTo(const HeapDuringSetCase& heapCase, std::ostream* out) {
  *out << heapCase.name;
}

class HeapDuringSetTest : public ::testing::TestWithParam<HeapDuringSetCase> {};

// What one list node and one index node may add beyond the key texts.
constexpr std::int64_t kNodeAllowance = 1024;

TEST_P(HeapDuringSetTest, NeverHoldsMoreThanTheLargerOfBeforeAndAfter) {
  MeasurementCache cache(GetParam().limits);
  std::vector<MeasurementCacheKey> keys;
  const MeasurementCacheKey& key = GetParam().prepare(cache, keys);
  const std::int64_t before = liveBytesOnThisThread();
  resetPeakLiveBytesOnThisThread();
  cache.set(key, {7, 7});
  const std::int64_t after = liveBytesOnThisThread();
  EXPECT_LE(peakLiveBytesOnThisThread() - std::max(before, after),
            kNodeAllowance)
      << "before " << before << ", after " << after;
  EXPECT_EQ(cache.entryCount(), markdownsInOrder(cache).size());
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

// Three 1-MiB keys, charged 2097712 bytes each, fill 6293136 of the budget.
const MeasurementCacheKey& threeMiBKeysThen(
    MeasurementCache& cache, std::vector<MeasurementCacheKey>& keys,
    MeasurementCacheKey next) {
  for (const char letter : {'a', 'b', 'c'}) {
    cache.set(keyOfLength(kMiB, letter), {1, 1});
  }
  keys.push_back(std::move(next));
  return keys.back();
}

INSTANTIATE_TEST_SUITE_P(
    MeasurementCacheAllocations, HeapDuringSetTest,
    ::testing::Values(
        HeapDuringSetCase{
            "KeyOfExactlyTheBudgetEvictsEverything",
            {},
            [](MeasurementCache& cache, std::vector<MeasurementCacheKey>& keys)
                -> const MeasurementCacheKey& {
              return threeMiBKeysThen(cache, keys, keyOfLength(4194024, 'x'));
            }},
        HeapDuringSetCase{
            "FourthMiBKeyEvictsOne",
            {},
            [](MeasurementCache& cache, std::vector<MeasurementCacheKey>& keys)
                -> const MeasurementCacheKey& {
              return threeMiBKeysThen(cache, keys, keyOfLength(kMiB, 'd'));
            }},
        HeapDuringSetCase{
            "EntryLimitEvictsOne",
            {},
            [](MeasurementCache& cache, std::vector<MeasurementCacheKey>& keys)
                -> const MeasurementCacheKey& {
              for (int i = 0; i < 512; ++i) {
                cache.set(keyFor(std::string(4096, 'k') + std::to_string(i)),
                          {1, 1});
              }
              keys.push_back(keyFor(std::string(4096, 'k') + "new"));
              return keys.back();
            }},
        HeapDuringSetCase{
            // A key holding a NaN is never found, so passing back the stored
            // key of the least recently used entry inserts it anew and
            // evicts the entry that owns the argument.
            "StoredNaNKeyPassedBackEvictsItsOwnEntry",
            {},
            [](MeasurementCache& cache, std::vector<MeasurementCacheKey>&)
                -> const MeasurementCacheKey& {
              MeasurementCacheKey nan = keyOfLength(kMiB, 'n');
              nan.real2 = std::numeric_limits<double>::quiet_NaN();
              cache.set(nan, {1, 1});
              cache.set(keyOfLength(kMiB, 'b'), {1, 1});
              cache.set(keyOfLength(kMiB, 'c'), {1, 1});
              const MeasurementCacheKey* oldest = nullptr;
              cache.forEachEntry(
                  [&](const MeasurementCache::CacheEntry& entry) {
                    oldest = &entry.key;
                  });
              return *oldest;
            }},
        // The same promise at other limits: 3 MiB holds one 1-MiB key, so
        // the second evicts the first; 64 entries fill before the budget.
        HeapDuringSetCase{
            "SmallerBudgetEvictsForBytes",
            {64, 3 * kMiB},
            [](MeasurementCache& cache, std::vector<MeasurementCacheKey>& keys)
                -> const MeasurementCacheKey& {
              cache.set(keyOfLength(kMiB, 'a'), {1, 1});
              keys.push_back(keyOfLength(kMiB, 'b'));
              return keys.back();
            }},
        HeapDuringSetCase{
            "SmallerEntryLimitEvictsOne",
            {64, 3 * kMiB},
            [](MeasurementCache& cache, std::vector<MeasurementCacheKey>& keys)
                -> const MeasurementCacheKey& {
              for (int i = 0; i < 64; ++i) {
                cache.set(keyFor(std::string(4096, 'k') + std::to_string(i)),
                          {1, 1});
              }
              keys.push_back(keyFor(std::string(4096, 'k') + "new"));
              return keys.back();
            }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvane::vesk
