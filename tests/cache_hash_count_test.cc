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

// One call on a cache in a given state, and how many times it may hash a key
// in full: once for the caller's key wherever it goes, never for a stored or
// evicted key, and not at all for a key it refuses.
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

TEST_P(HashCountTest, HashesTheCallersKeyOnceAndNothingElse) {
  MeasurementCache cache;
  GetParam().prepare(cache);
  const std::uint64_t before = keyHashesComputed();
  GetParam().call(cache);
  EXPECT_EQ(keyHashesComputed() - before, GetParam().hashes);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

void nothing(MeasurementCache&) {}
void oneStored(MeasurementCache& cache) { cache.set(keyFor("stored"), {1, 1}); }
void fullByCount(MeasurementCache& cache) {
  for (int i = 0; i < 512; ++i) cache.set(keyFor(std::to_string(i)), {1, 1});
}

INSTANTIATE_TEST_SUITE_P(
    MeasurementCache, HashCountTest,
    ::testing::Values(HashCountCase{"InsertingSet", nothing,
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
                      HashCountCase{
                          "RefusedSet", oneStored,
                          [](MeasurementCache& cache) {
                            cache.set(
                                keyOfLength(MeasurementCache::kByteBudget, 'o'),
                                {2, 2});
                          },
                          0},
                      HashCountCase{"GetHit", oneStored,
                                    [](MeasurementCache& cache) {
                                      CachedSize out;
                                      EXPECT_TRUE(
                                          cache.get(keyFor("stored"), out));
                                    },
                                    1},
                      HashCountCase{"RemoveMatchingMarkdown", fullByCount,
                                    [](MeasurementCache& cache) {
                                      cache.removeMatchingMarkdown("7");
                                      EXPECT_EQ(cache.entryCount(), 511u);
                                    },
                                    0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvane::vesk
