#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"

namespace morvane::vesk {

void PrintTo(const MeasurementCacheStats& s, std::ostream* out) {
  *out << "{entries " << s.entries << ", bytes " << s.accountedBytes
       << ", hits " << s.hits << ", misses " << s.misses << ", insertions "
       << s.insertions << ", updates " << s.updates << ", refusals "
       << s.refusals << ", evictions by entries " << s.evictionsByEntryLimit
       << ", by bytes " << s.evictionsByByteBudget << ", removals "
       << s.removals << "}";
}

namespace {

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

// One operation, the cache state it starts from and how it must move the
// counters. Every field not named in `expect` must stay as it was.
struct CounterCase {
  const char* name;
  std::function<void(MeasurementCache&)> prepare;
  std::function<void(MeasurementCache&)> operation;
  std::function<void(MeasurementCacheStats&)> expect;
};

void fillToEntryLimit(MeasurementCache& cache) {
  for (std::size_t i = 0; i < MeasurementCache::kMaxEntries; ++i) {
    cache.set(keyFor("entry " + std::to_string(i)), {1, 1});
  }
}

void fillThreeMiBKeys(MeasurementCache& cache) {
  for (const char letter : {'a', 'b', 'c'}) {
    cache.set(keyOfLength(kMiB, letter), {1, 1});
  }
}

TEST(MeasurementCacheStats, EachOperationMovesItsOwnCountersAndNoOther) {
  const MeasurementCacheKey small = keyFor("small");
  const std::uint64_t smallCharge = entryCharge(small);
  const std::uint64_t mibCharge = entryCharge(keyOfLength(kMiB, 'x'));
  const auto storeSmall = [&](MeasurementCache& cache) {
    cache.set(small, {1, 2});
  };
  CachedSize out;
  const std::vector<CounterCase> cases{
      {"get hit", storeSmall,
       [&](MeasurementCache& cache) { ASSERT_TRUE(cache.get(small, out)); },
       [](MeasurementCacheStats& s) { ++s.hits; }},
      {"get miss", storeSmall,
       [&](MeasurementCache& cache) {
         ASSERT_FALSE(cache.get(keyFor("absent"), out));
       },
       [](MeasurementCacheStats& s) { ++s.misses; }},
      {"inserting set", [](MeasurementCache&) {},
       [&](MeasurementCache& cache) {
         cache.set(small, {1, 2});
       },
       [&](MeasurementCacheStats& s) {
         ++s.insertions;
         ++s.entries;
         s.accountedBytes += smallCharge;
       }},
      {"updating set, even when full", fillToEntryLimit,
       [](MeasurementCache& cache) {
         cache.set(keyFor("entry 7"), {3, 4});
       },
       [](MeasurementCacheStats& s) { ++s.updates; }},
      {"oversized set", storeSmall,
       [](MeasurementCache& cache) {
         cache.set(keyOfLength(MeasurementCache::kByteBudget, 'z'), {1, 1});
       },
       [](MeasurementCacheStats& s) { ++s.refusals; }},
      {"set past the entry limit", fillToEntryLimit,
       [&](MeasurementCache& cache) {
         cache.set(small, {1, 2});
       },
       [&](MeasurementCacheStats& s) {
         ++s.insertions;
         ++s.evictionsByEntryLimit;
         s.accountedBytes =
             s.accountedBytes - entryCharge(keyFor("entry 0")) + smallCharge;
       }},
      {"set past the byte budget", fillThreeMiBKeys,
       [](MeasurementCache& cache) {
         cache.set(keyOfLength(kMiB, 'd'), {1, 1});
       },
       [](MeasurementCacheStats& s) {
         ++s.insertions;
         ++s.evictionsByByteBudget;
       }},
      {"set evicting everything for an exact-budget key", fillThreeMiBKeys,
       [](MeasurementCache& cache) {
         cache.set(keyOfLength(MeasurementCache::kByteBudget / 2 -
                                   MeasurementCache::kEntryOverheadBytes,
                               'e'),
                   {1, 1});
       },
       [&](MeasurementCacheStats& s) {
         ++s.insertions;
         s.evictionsByByteBudget += 3;
         s.entries = 1;
         s.accountedBytes = MeasurementCache::kByteBudget;
       }},
      {"removal of two entries", fillThreeMiBKeys,
       [](MeasurementCache& cache) {
         MeasurementCacheKey sameText = keyOfLength(kMiB, 'b');
         sameText.integer = 2;
         cache.set(sameText, {1, 1});  // the only insertion that evicts 'a'
         cache.removeMatchingMarkdown(std::string(kMiB, 'b'));
       },
       [&](MeasurementCacheStats& s) {
         ++s.insertions;
         ++s.evictionsByByteBudget;
         s.removals += 2;
         s.entries -= 2;
         s.accountedBytes -= 2 * mibCharge;
       }},
      {"removal that matches nothing", fillThreeMiBKeys,
       [](MeasurementCache& cache) { cache.removeMatchingMarkdown("none"); },
       [](MeasurementCacheStats&) {}},
  };

  for (const CounterCase& c : cases) {
    SCOPED_TRACE(c.name);
    MeasurementCache cache;
    c.prepare(cache);
    MeasurementCacheStats expected = cache.stats();
    c.operation(cache);
    c.expect(expected);
    EXPECT_EQ(cache.stats(), expected);
    EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
  }
}

TEST(MeasurementCacheStats, CountSinceConstructionOrTheLastClear) {
  MeasurementCache cache;
  EXPECT_EQ(cache.stats(), MeasurementCacheStats{});
  fillThreeMiBKeys(cache);
  cache.set(keyOfLength(kMiB, 'd'), {1, 1});
  CachedSize out;
  cache.get(keyOfLength(kMiB, 'd'), out);
  cache.get(keyOfLength(kMiB, 'a'), out);
  cache.set(keyOfLength(MeasurementCache::kByteBudget, 'z'), {1, 1});
  cache.removeMatchingMarkdown(std::string(kMiB, 'b'));
  const MeasurementCacheStats before = cache.stats();
  EXPECT_EQ(before.insertions, 4u);
  EXPECT_EQ(before.hits + before.misses + before.refusals + before.removals,
            4u);

  cache.clear();
  EXPECT_EQ(cache.stats(), MeasurementCacheStats{});
  cache.set(keyFor("after clear"), {1, 1});
  EXPECT_EQ(cache.stats().insertions, 1u);
}

// Readers on another thread must only ever see states the cache passed
// through: the stored entries are always the insertions less what eviction
// and removal took, and the bytes are those of the entries (every key here
// has the same charge).
TEST(MeasurementCacheStats, SnapshotsTakenDuringWritesAreConsistent) {
  MeasurementCache cache;
  const std::uint64_t charge = entryCharge(keyFor("key 000"));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int round = 0; round < 3000; ++round) {
      const std::string text = "key " + std::to_string(100 + round % 900);
      cache.set(keyFor(text), {1, 1});
      CachedSize out;
      cache.get(keyFor(text), out);
      if (round % 50 == 0) cache.removeMatchingMarkdown(text);
    }
    done = true;
  });
  int snapshots = 0;
  int inconsistent = 0;
  while (!done.load() || snapshots == 0) {
    const MeasurementCacheStats s = cache.stats();
    const bool consistent =
        s.entries == s.insertions - s.evictionsByEntryLimit -
                         s.evictionsByByteBudget - s.removals &&
        s.accountedBytes == s.entries * charge &&
        s.entries <= MeasurementCache::kMaxEntries;
    inconsistent += consistent ? 0 : 1;
    ++snapshots;
  }
  writer.join();
  EXPECT_EQ(inconsistent, 0) << "of " << snapshots << " snapshots";
  EXPECT_EQ(cache.stats().hits, 3000u);
}

}  // namespace
}  // namespace morvane::vesk
