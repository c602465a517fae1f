#include "benchmarks/cache_cases.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "benchmarks/benchmark_keys.h"
#include "benchmarks/shared_lookups.h"
#include "benchmarks/thread_counts.h"
#include "cache/entry_charge.h"
#include "cache/measurement_cache.h"
#include "cache/measurement_cache_key_hash.h"

namespace morvane::vesk {
namespace {

std::size_t markdownBytesOf(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0));
}

// A cache filled to its limit with keys of one markdown length (and padding),
// oldest first in `stored`.
struct FilledCache {
  FilledCache(std::size_t markdownBytes, std::size_t paddingBytes)
      : stored(benchmarkKeys(entriesHeld(entryCharge(
                                 benchmarkKey(markdownBytes, 0, paddingBytes))),
                             markdownBytes, 0, paddingBytes)) {
    for (const MeasurementCacheKey& key : stored) cache.set(key, {1.0, 1.0});
  }

  bool full() const { return cache.entryCount() == stored.size(); }

  MeasurementCache cache;
  std::vector<MeasurementCacheKey> stored;
};

// One filled cache per markdown length for the cases that only read, built
// on first use and shared by every thread and every run.
FilledCache& sharedFilledCache(std::size_t markdownBytes) {
  return sharedFilled<FilledCache>(markdownBytes, [](std::size_t bytes) {
    return std::make_unique<FilledCache>(bytes, 0);
  });
}

// What every thread of a floor case looks its keys up in: a map of its own,
// made from the cache's keys before the timed loop.
using UnsharedMap = std::unordered_map<MeasurementCacheKey, CachedSize,
                                       MeasurementCacheKeyHash>;

UnsharedMap unsharedCopy(const std::vector<MeasurementCacheKey>& keys) {
  UnsharedMap map;
  map.reserve(keys.size());
  for (const MeasurementCacheKey& key : keys) map.emplace(key, CachedSize{1, 1});
  return map;
}

template <LookupMix kMix>
void cacheLookups(benchmark::State& state) {
  FilledCache& filled = sharedFilledCache(markdownBytesOf(state));
  const std::vector<MeasurementCacheKey>& keys = filled.stored;
  CachedSize out;
  cycleLookups<kMix>(
      state, keys.size(),
      [&](std::size_t i) {
        const bool hit = filled.cache.get(keys[i], out);
        benchmark::DoNotOptimize(out);
        return hit;
      },
      [&](std::size_t i) { filled.cache.set(keys[i], {1.0, 1.0}); });
}

template <LookupMix kMix>
void floorLookups(benchmark::State& state) {
  const std::vector<MeasurementCacheKey>& keys =
      sharedFilledCache(markdownBytesOf(state)).stored;
  UnsharedMap map = unsharedCopy(keys);
  CachedSize out;
  cycleLookups<kMix>(
      state, keys.size(),
      [&](std::size_t i) {
        const auto found = map.find(keys[i]);
        if (found == map.end()) return false;
        out = found->second;
        benchmark::DoNotOptimize(out);
        return true;
      },
      [&](std::size_t i) {
        const auto found = map.find(keys[i]);
        if (found != map.end()) found->second = {1.0, 1.0};
      });
}

// Cycles `count` times through a full cache of new keys, `held` stored at a
// time: each set() inserts a key evicted long ago (or never stored) and
// evicts the least recently used one.
void insertEvicting(benchmark::State& state, std::size_t paddingBytes) {
  const std::size_t markdownBytes = markdownBytesOf(state);
  const std::size_t held =
      entriesHeld(entryCharge(benchmarkKey(markdownBytes, 0, paddingBytes)));
  const std::vector<MeasurementCacheKey> ring =
      benchmarkKeys(2 * held, markdownBytes, 0, paddingBytes);
  MeasurementCache cache;
  for (std::size_t i = 0; i < held; ++i) cache.set(ring[i], {1.0, 1.0});

  std::size_t next = held;
  for (auto _ : state) {
    cache.set(ring[next], {2.0, 2.0});
    if (++next == ring.size()) next = 0;
  }
  if (cache.entryCount() != held) {
    state.SkipWithError("the cache did not stay at its limit");
  }
  state.SetItemsProcessed(state.iterations());
  countEntries(state, held);
}

}  // namespace

void getHit(benchmark::State& state) {
  cacheLookups<LookupMix::kHitsOnly>(state);
}

void getOrMeasureHit(benchmark::State& state) {
  FilledCache& filled = sharedFilledCache(markdownBytesOf(state));
  const std::vector<MeasurementCacheKey>& keys = filled.stored;
  std::size_t next = firstKeyOfThread(state, keys.size());
  std::uint64_t measured = 0;
  for (auto _ : state) {
    const CachedSize size = filled.cache.getOrMeasure(keys[next], [&] {
      ++measured;
      return CachedSize{2.0, 2.0};
    });
    benchmark::DoNotOptimize(size);
    if (++next == keys.size()) next = 0;
  }
  if (measured != 0) state.SkipWithError("a stored key was measured");
  state.SetItemsProcessed(state.iterations());
  countEntries(state, keys.size());
}

void setLimitsHalving(benchmark::State& state) {
  FilledCache filled(markdownBytesOf(state), 0);
  const MeasurementCacheLimits full = filled.cache.limits();
  const std::size_t held = filled.stored.size();
  const MeasurementCacheLimits half{held / 2, full.byteBudget};
  for (auto _ : state) {
    filled.cache.setLimits(half);
    state.PauseTiming();
    if (filled.cache.entryCount() != held / 2) {
      state.SkipWithError("shrinking did not evict half");
      break;
    }
    filled.cache.setLimits(full);
    for (const MeasurementCacheKey& key : filled.stored) {
      filled.cache.set(key, {1.0, 1.0});
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(held - held / 2));
  countEntries(state, held);
}

void getSetMix(benchmark::State& state) {
  cacheLookups<LookupMix::kOneSetInFive>(state);
}

void floorGetHit(benchmark::State& state) {
  floorLookups<LookupMix::kHitsOnly>(state);
}

void floorGetSetMix(benchmark::State& state) {
  floorLookups<LookupMix::kOneSetInFive>(state);
}

bool registerThreadedLookups() {
  benchmark::RegisterBenchmark("MeasurementCache/get_hit_threads", getHit)
      ->Apply(onOneToEightThreads);
  benchmark::RegisterBenchmark("MeasurementCache/get_set_mix_threads",
                               getSetMix)
      ->Apply(onOneToEightThreads);
  benchmark::RegisterBenchmark("Floor/get_hit_threads", floorGetHit)
      ->Apply(onOneToEightThreads);
  benchmark::RegisterBenchmark("Floor/get_set_mix_threads", floorGetSetMix)
      ->Apply(onOneToEightThreads);
  return true;
}

void getMiss(benchmark::State& state) {
  FilledCache& filled = sharedFilledCache(markdownBytesOf(state));
  const std::vector<MeasurementCacheKey> absent = benchmarkKeys(
      filled.stored.size(), markdownBytesOf(state), kAbsentTagBase);
  std::size_t next = 0;
  std::uint64_t hits = 0;
  CachedSize out;
  for (auto _ : state) {
    const bool hit = filled.cache.get(absent[next], out);
    hits += hit ? 1 : 0;
    benchmark::DoNotOptimize(out);
    if (++next == absent.size()) next = 0;
  }
  if (hits != 0) state.SkipWithError("an absent key hit");
  state.SetItemsProcessed(state.iterations());
  countEntries(state, filled.stored.size());
}

void setUpdate(benchmark::State& state) {
  FilledCache filled(markdownBytesOf(state), 0);
  std::size_t next = 0;
  double value = 0.0;
  for (auto _ : state) {
    filled.cache.set(filled.stored[next], {value, value});
    value += 1.0;
    if (++next == filled.stored.size()) next = 0;
  }
  if (!filled.full()) state.SkipWithError("an update changed the entries");
  state.SetItemsProcessed(state.iterations());
  countEntries(state, filled.stored.size());
}

void setInsertEvictingByCount(benchmark::State& state) {
  insertEvicting(state, 0);
}

void setInsertEvictingShared(benchmark::State& state) {
  // Every thread's ring holds twice what the cache keeps in all, so a key is
  // evicted long before its thread comes back to it.
  static std::unique_ptr<MeasurementCache> shared;
  const std::size_t markdownBytes = markdownBytesOf(state);
  const std::size_t held =
      entriesHeld(entryCharge(benchmarkKey(markdownBytes, 0)));
  const auto thread = static_cast<std::uint32_t>(state.thread_index());
  const std::vector<MeasurementCacheKey> ring = benchmarkKeys(
      2 * held, markdownBytes, thread * static_cast<std::uint32_t>(2 * held));
  if (thread == 0) {
    shared = std::make_unique<MeasurementCache>();
    for (std::size_t i = 0; i < held; ++i) shared->set(ring[i], {1.0, 1.0});
  }
  std::size_t next = held;
  for (auto _ : state) {
    shared->set(ring[next], {2.0, 2.0});
    if (++next == ring.size()) next = 0;
  }
  if (thread == 0) {
    if (shared->entryCount() != held) {
      state.SkipWithError("the cache did not stay at its limit");
    }
    shared.reset();
  }
  state.SetItemsProcessed(state.iterations());
  countEntries(state, held);
}

void setInsertEvictingByBytes(benchmark::State& state) {
  insertEvicting(state, byteBoundPadding(markdownBytesOf(state)));
}

void removeMatchingMarkdownScan(benchmark::State& state) {
  FilledCache filled(markdownBytesOf(state), 0);
  const std::string absent =
      benchmarkKey(markdownBytesOf(state), kAbsentTagBase).markdown;
  for (auto _ : state) {
    filled.cache.removeMatchingMarkdown(absent);
  }
  if (!filled.full()) state.SkipWithError("the scan removed an entry");
  state.SetItemsProcessed(state.iterations());
  countEntries(state, filled.stored.size());
}

}  // namespace morvane::vesk
