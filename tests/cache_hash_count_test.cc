#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"
#include "tests/counting_key_hash.h"

namespace morvane::vesk {
namespace {

using testing::keyHashesComputed;
using testing::observeKeyHashes;

// One call on a cache in a given state, and how many times it may hash a key
// in full: once for the caller's key wherever it goes, never for a stored or
// evicted key, and not at all for a key it refuses. Every hash must be
// computed before the cache takes its lock.
struct HashCountCase {
  const char* name;
  std::function<void(MeasurementCache&)> prepare;
  std::function<void(MeasurementCache&)> call;
  std::uint64_t hashes;
};

void PrintTo(const HashCountCase& hashCase, std::ostream* out) {
  *out << hashCase.name;
}

class HashCountTest : public ::testing::TestWithParam<HashCountCase> {};

// Counts the hashes computed while a given lock is held.
struct HashesUnderLock {
  const MeasurementCacheInspector::Lock* lock;
  int count = 0;

  static void observe(void* context) {
    auto* self = static_cast<HashesUnderLock*>(context);
    if (self->lock->isLocked()) ++self->count;
  }
};

TEST_P(HashCountTest, HashesTheCallersKeyOnceBeforeLockingAndNothingElse) {
  MeasurementCache cache;
  GetParam().prepare(cache);
  HashesUnderLock underLock{&MeasurementCacheInspector(cache).lock()};
  const std::uint64_t before = keyHashesComputed();
  observeKeyHashes(&HashesUnderLock::observe, &underLock);
  GetParam().call(cache);
  observeKeyHashes(nullptr, nullptr);
  EXPECT_EQ(keyHashesComputed() - before, GetParam().hashes);
  EXPECT_EQ(underLock.count, 0) << "hashes computed under the cache's lock";
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

void nothing(MeasurementCache&) {}
void oneStored(MeasurementCache& cache) { cache.set(keyFor("stored"), {1, 1}); }
void fullByCount(MeasurementCache& cache) {
  for (int i = 0; i < 512; ++i) cache.set(keyFor(std::to_string(i)), {1, 1});
}

INSTANTIATE_TEST_SUITE_P(
    MeasurementCache, HashCountTest,
    ::testing::Values(
        HashCountCase{"InsertingSet", nothing,
                      [](MeasurementCache& cache) {
                        cache.set(keyFor("new"), {2, 2});
                      },
                      1},
        HashCountCase{"UpdatingSet", oneStored,
                      [](MeasurementCache& cache) {
                        cache.set(keyFor("stored"), {2, 2});
                      },
                      1},
        HashCountCase{"EvictingSet", fullByCount,
                      [](MeasurementCache& cache) {
                        cache.set(keyFor("new"), {2, 2});
                      },
                      1},
        HashCountCase{"RefusedSet", oneStored,
                      [](MeasurementCache& cache) {
                        cache.set(
                            keyOfLength(MeasurementCache::kByteBudget, 'o'),
                            {2, 2});
                      },
                      0},
        HashCountCase{"GetHit", oneStored,
                      [](MeasurementCache& cache) {
                        CachedSize out;
                        EXPECT_TRUE(cache.get(keyFor("stored"), out));
                      },
                      1},
        HashCountCase{"MeasuringMissThatEvicts", fullByCount,
                      [](MeasurementCache& cache) {
                        cache.getOrMeasure(keyFor("new"), [] {
                          return CachedSize{2, 2};
                        });
                      },
                      1},
        HashCountCase{"MeasuringHit", oneStored,
                      [](MeasurementCache& cache) {
                        cache.getOrMeasure(keyFor("stored"), [] {
                          return CachedSize{2, 2};
                        });
                      },
                      1},
        HashCountCase{"RefusedMeasuring", oneStored,
                      [](MeasurementCache& cache) {
                        cache.getOrMeasure(
                            keyOfLength(MeasurementCache::kByteBudget, 'o'),
                            [] {
                              return CachedSize{2, 2};
                            });
                      },
                      0},
        HashCountCase{"ShrinkingLimits", fullByCount,
                      [](MeasurementCache& cache) {
                        cache.setLimits({100, MeasurementCache::kByteBudget});
                        EXPECT_EQ(cache.entryCount(), 100u);
                      },
                      0},
        HashCountCase{
            "GrowingLimits", fullByCount,
            [](MeasurementCache& cache) {
              cache.setLimits({5000, 8 * MeasurementCache::kByteBudget});
              EXPECT_EQ(cache.entryCount(), 512u);
            },
            0},
        HashCountCase{"RemoveMatchingMarkdown", fullByCount,
                      [](MeasurementCache& cache) {
                        cache.removeMatchingMarkdown("7");
                        EXPECT_EQ(cache.entryCount(), 511u);
                      },
                      0}),
    [](const auto& info) { return std::string(info.param.name); });

// A key that counts how often it is compared, with a hash beside it, in the
// shape of the index's stored and probing records.
struct CountedComparisons {
  int made = 0;
};
struct CountingKey {
  int value;
  CountedComparisons* comparisons;
  bool operator==(const CountingKey& other) const {
    ++comparisons->made;
    return value == other.value;
  }
};
struct HashedCountingKey {
  CountingKey key;
  std::uint64_t hash;
};

// The index compares a probe with every stored key of its bucket; a bucket
// holds keys of other hashes too, and comparing one of those in full reads
// its text for nothing. So the stored hashes decide first.
TEST(IndexKeyComparison, ComparesKeysOnlyWhenTheirHashesAreEqual) {
  struct Case {
    int storedValue;
    std::uint64_t storedHash;
    int probeValue;
    std::uint64_t probeHash;
    bool equal;
    int comparisons;
  };
  for (const Case& c :
       {Case{1, 7, 1, 7, true, 1}, Case{1, 7, 2, 7, false, 1},
        Case{1, 7, 1, 8, false, 0}, Case{1, 7, 2, 8, false, 0}}) {
    CountedComparisons counted;
    const HashedCountingKey stored{{c.storedValue, &counted}, c.storedHash};
    const HashedCountingKey probe{{c.probeValue, &counted}, c.probeHash};
    EXPECT_EQ(MeasurementCacheInspector::indexKeysEqual(stored, probe),
              c.equal);
    EXPECT_EQ(counted.made, c.comparisons)
        << "stored " << c.storedValue << "/" << c.storedHash << ", probe "
        << c.probeValue << "/" << c.probeHash;
  }
}

}  // namespace
}  // namespace morvane::vesk
