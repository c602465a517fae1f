#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench/document_benchmark.h"
#include "benchmarks/benchmark_keys.h"
#include "benchmarks/document_floor.h"
#include "benchmarks/key_bytes.h"
#include "cache/entry_charge.h"
#include "cache/measurement_cache.h"
#include "cache/measurement_cache_key_hash.h"

namespace morvane::vesk {
namespace {

constexpr std::size_t kKiB = 1024;

TEST(BudgetedLimits, MatchTheCache) {
  EXPECT_EQ(kBudgetedMaxEntries, MeasurementCache::kMaxEntries);
  EXPECT_EQ(kBudgetedByteBudget, MeasurementCache::kByteBudget);
}

TEST(BenchmarkKey, IsTheMarkdownEndingInItsTagAndNothingElse) {
  const MeasurementCacheKey key = benchmarkKey(64, 42, 3);
  MeasurementCacheKey expected{};
  expected.markdown = std::string(56, 'x') + "00000042";
  expected.string1 = "ppp";
  EXPECT_EQ(key, expected);
  EXPECT_EQ(benchmarkKey(8, 7).markdown, "00000007");
  EXPECT_THROW(benchmarkKey(7, 0), std::invalid_argument);
  EXPECT_THROW(benchmarkKey(64, 100'000'000), std::invalid_argument);
}

TEST(BenchmarkKey, TagsTellKeysOfOneLengthApart) {
  const std::vector<MeasurementCacheKey> keys = benchmarkKeys(600, 4 * kKiB);
  const std::vector<MeasurementCacheKey> absent =
      benchmarkKeys(600, 4 * kKiB, kAbsentTagBase);
  std::set<std::string> markdowns;
  for (const auto* group : {&keys, &absent}) {
    for (const MeasurementCacheKey& key : *group) {
      EXPECT_EQ(key.markdown.size(), 4 * kKiB);
      markdowns.insert(key.markdown);
    }
  }
  EXPECT_EQ(markdowns.size(), 1200u);
  EXPECT_EQ(keys[5], benchmarkKey(4 * kKiB, 5));
}

// Fills a real cache with more keys than it can hold; how many it keeps is
// what the cases that rely on entriesHeld assume.
std::uint64_t keptByTheCache(std::size_t markdownBytes, std::size_t padding) {
  MeasurementCache cache;
  const std::size_t held =
      entriesHeld(entryCharge(benchmarkKey(markdownBytes, 0, padding)));
  for (const MeasurementCacheKey& key :
       benchmarkKeys(held + 3, markdownBytes, 0, padding)) {
    cache.set(key, {1, 1});
  }
  return cache.entryCount();
}

TEST(EntriesHeld, IsWhatAFullCacheHolds) {
  EXPECT_EQ(keptByTheCache(64, 0), 512u);
  EXPECT_EQ(keptByTheCache(4 * kKiB, 0), 512u);
  EXPECT_EQ(keptByTheCache(256 * kKiB, 0), 15u);
  EXPECT_EQ(keptByTheCache(64, byteBoundPadding(64)), 256u);
  EXPECT_EQ(keptByTheCache(4 * kKiB, byteBoundPadding(4 * kKiB)), 256u);
  EXPECT_EQ(entriesHeld(0), 0u);
  EXPECT_EQ(entriesHeld(kBudgetedByteBudget + 1), 0u);
  EXPECT_EQ(entriesHeld(kBudgetedByteBudget), 1u);
}

TEST(ByteBoundPadding, BringsTheChargeTo32KiB) {
  for (const std::size_t bytes : {std::size_t{8}, std::size_t{64}, 4 * kKiB,
                                  16 * kKiB - 280 - 1}) {
    EXPECT_EQ(entryCharge(benchmarkKey(bytes, 0, byteBoundPadding(bytes))),
              32 * kKiB)
        << bytes;
  }
  EXPECT_EQ(byteBoundPadding(16 * kKiB - 280), 0u);
  EXPECT_EQ(byteBoundPadding(256 * kKiB), 0u);
}

std::vector<std::size_t> markdownLengthsOf(const auto& cache) {
  std::vector<std::size_t> lengths;
  cache.forEachEntry([&lengths](const MeasurementCacheEntry& entry) {
    lengths.push_back(entry.key.markdown.size());
  });
  return lengths;
}

std::uint64_t chargesOf(const auto& cache) {
  std::uint64_t total = 0;
  cache.forEachEntry([&total](const MeasurementCacheEntry& entry) {
    total += entryCharge(entry.key);
  });
  return total;
}

TEST(DocumentFloor, KeepsWhatTheBudgetedCacheKeepsOnTheWorkload) {
  MeasurementCache cache;
  DocumentFloor floor;
  const BenchmarkReport cached = runDocumentBenchmark(cache);
  const BenchmarkReport floored = runDocumentBenchmark(floor);
  EXPECT_EQ(floored.entries, cached.entries);
  EXPECT_EQ(floored.peakAccountedBytes, cached.peakAccountedBytes);
  EXPECT_EQ(markdownLengthsOf(floor), markdownLengthsOf(cache));
  EXPECT_EQ(floor.accountedBytes(), chargesOf(cache));

  // A second run starts from nothing, as the cache's does.
  const BenchmarkReport again = runDocumentBenchmark(floor);
  EXPECT_EQ(again.entries, cached.entries);
  EXPECT_EQ(again.peakAccountedBytes, cached.peakAccountedBytes);
}

TEST(DocumentFloor, HashesEveryKeyItKeepsOnce) {
  DocumentFloor floor;
  std::uint64_t expected = 0;
  for (const MeasurementCacheKey& key : benchmarkKeys(5, 64)) {
    floor.set(key, {1, 1});
    expected = expected * 31 + MeasurementCacheKeyHash{}(key);
  }
  EXPECT_EQ(floor.hashFold(), expected);
}

TEST(DocumentFloor, DropsTheOldestBeyond512Documents) {
  DocumentFloor floor;
  MeasurementCache cache;
  const std::vector<MeasurementCacheKey> keys = benchmarkKeys(600, 64);
  for (const MeasurementCacheKey& key : keys) {
    floor.set(key, {1, 1});
    cache.set(key, {1, 1});
  }
  EXPECT_EQ(floor.entryCount(), 512u);
  std::vector<MeasurementCacheKey> kept;
  floor.forEachEntry(
      [&kept](const MeasurementCacheEntry& entry) { kept.push_back(entry.key); });
  ASSERT_EQ(kept.size(), 512u);
  EXPECT_EQ(kept.front(), keys[599]);
  EXPECT_EQ(kept.back(), keys[88]);
  EXPECT_EQ(floor.accountedBytes(), chargesOf(cache));
}

TEST(DocumentFloor, DropsAsManyAsTheBudgetNeeds) {
  DocumentFloor floor;
  MeasurementCache cache;
  // Keys charged 3 MiB: two fit, each later one pushes out the oldest; then
  // a key charged 6 MiB has to push out both.
  std::vector<MeasurementCacheKey> keys = benchmarkKeys(4, 1536 * kKiB);
  keys.push_back(benchmarkKey(3 * kKiB * kKiB, 9));
  for (const MeasurementCacheKey& key : keys) {
    floor.set(key, {1, 1});
    cache.set(key, {1, 1});
    EXPECT_EQ(markdownLengthsOf(floor), markdownLengthsOf(cache));
    EXPECT_EQ(floor.accountedBytes(), chargesOf(cache));
    EXPECT_LE(floor.accountedBytes(), kBudgetedByteBudget);
  }
  EXPECT_EQ(floor.entryCount(), 1u);
}

TEST(DocumentFloor, RefusesWhatTheCacheRefusesWithoutHashing) {
  DocumentFloor floor;
  floor.set(benchmarkKey(64, 1), {1, 1});
  const std::uint64_t fold = floor.hashFold();
  const std::uint64_t accounted = floor.accountedBytes();
  floor.set(benchmarkKey(4 * kKiB * kKiB, 2), {1, 1});
  EXPECT_EQ(floor.entryCount(), 1u);
  EXPECT_EQ(floor.accountedBytes(), accounted);
  EXPECT_EQ(floor.hashFold(), fold);
}

TEST(DocumentFloor, ClearDropsEverythingAndStartsAfresh) {
  DocumentFloor floor;
  for (const MeasurementCacheKey& key : benchmarkKeys(700, 64)) {
    floor.set(key, {1, 1});
  }
  floor.clear();
  EXPECT_EQ(floor.entryCount(), 0u);
  EXPECT_EQ(floor.accountedBytes(), 0u);
  EXPECT_TRUE(markdownLengthsOf(floor).empty());
  floor.set(benchmarkKey(64, 3), {1, 1});
  floor.set(benchmarkKey(128, 4), {1, 1});
  EXPECT_EQ(markdownLengthsOf(floor), (std::vector<std::size_t>{128, 64}));
}

MeasurementCacheKey keyWithEveryField() {
  MeasurementCacheKey key{};
  key.markdown = "# title";
  key.real1 = 1.5;
  key.real2 = 2.5;
  key.real3 = 3.5;
  key.unsigned1 = 11;
  key.unsigned2 = 12;
  key.unsigned3 = 13;
  key.flavor = MarkdownFlavor::kGitHub;
  key.string1 = "one";
  key.string2 = "two";
  key.integer = -7;
  key.string3 = "three";
  key.string4 = "four";
  key.string5 = "five";
  return key;
}

std::string bytesOf(const MeasurementCacheKey& key) {
  std::string out;
  serializeKey(key, out);
  return out;
}

TEST(SerializeKey, TakesEveryFieldIntoAccount) {
  using Change = std::function<void(MeasurementCacheKey&)>;
  const std::vector<Change> changes = {
      [](auto& k) { k.markdown += '!'; },   [](auto& k) { k.real1 += 1; },
      [](auto& k) { k.flag1 = true; },      [](auto& k) { k.flag2 = true; },
      [](auto& k) { k.real2 += 1; },        [](auto& k) { k.flag3 = true; },
      [](auto& k) { k.flag4 = true; },      [](auto& k) { k.flag5 = true; },
      [](auto& k) { k.flag6 = true; },      [](auto& k) { k.flag7 = true; },
      [](auto& k) { k.flag8 = true; },      [](auto& k) { k.flag9 = true; },
      [](auto& k) { k.flag10 = true; },     [](auto& k) { k.unsigned1 += 1; },
      [](auto& k) { k.unsigned2 += 1; },    [](auto& k) { k.unsigned3 += 1; },
      [](auto& k) { k.real3 += 1; },
      [](auto& k) { k.flavor = MarkdownFlavor::kCommonMark; },
      [](auto& k) { k.string1 += '!'; },    [](auto& k) { k.string2 += '!'; },
      [](auto& k) { k.integer += 1; },      [](auto& k) { k.string3 += '!'; },
      [](auto& k) { k.string4 += '!'; },    [](auto& k) { k.string5 += '!'; },
  };
  ASSERT_EQ(changes.size(), 24u);
  const MeasurementCacheKey base = keyWithEveryField();
  std::set<std::string> serialized = {bytesOf(base)};
  for (std::size_t i = 0; i < changes.size(); ++i) {
    MeasurementCacheKey changed = base;
    changes[i](changed);
    ASSERT_NE(changed, base) << "field " << i;
    EXPECT_TRUE(serialized.insert(bytesOf(changed)).second) << "field " << i;
  }
  EXPECT_EQ(bytesOf(base), bytesOf(keyWithEveryField()));
}

TEST(SerializeKey, KeepsStringBoundaries) {
  MeasurementCacheKey a{};
  a.markdown = "ab";
  a.string1 = "c";
  MeasurementCacheKey b{};
  b.markdown = "a";
  b.string1 = "bc";
  EXPECT_NE(bytesOf(a), bytesOf(b));
}

TEST(SerializeKey, WritesLengthThenBytesAndReplacesTheOutput) {
  const MeasurementCacheKey key = keyWithEveryField();
  std::string out = "left over from before";
  serializeKey(key, out);
  ASSERT_EQ(out.size(), kKeyBytesFixedPart + 7 + 3 + 3 + 5 + 4 + 4);
  std::uint64_t length = 0;
  std::memcpy(&length, out.data(), sizeof length);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(out.substr(8, 7), "# title");
  EXPECT_EQ(out.substr(out.size() - 4), "five");
  EXPECT_EQ(bytesOf(MeasurementCacheKey{}).size(), kKeyBytesFixedPart);
}

TEST(SerializeKey, TellsTheTwoZerosApart) {
  MeasurementCacheKey positive{};
  MeasurementCacheKey negative{};
  negative.real2 = -0.0;
  ASSERT_EQ(positive, negative);
  EXPECT_NE(bytesOf(positive), bytesOf(negative));
}

}  // namespace
}  // namespace morvane::vesk
