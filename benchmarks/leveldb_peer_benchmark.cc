// MeasurementCache beside LevelDB's LRU cache on the same get-hit,
// inserting-set and 512-document workloads, in one program so that both run
// in the same heap state and the same stretch of a noisy machine.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/document_benchmark.h"
#include "benchmarks/benchmark_keys.h"
#include "benchmarks/cache_cases.h"
#include "benchmarks/document_workload.h"
#include "benchmarks/key_bytes.h"
#include "benchmarks/leveldb_measurement_cache.h"
#include "benchmarks/peer_cases.h"
#include "benchmarks/shared_lookups.h"
#include "benchmarks/thread_counts.h"
#include "cache/entry_charge.h"
#include "cache/measurement_cache.h"

namespace morvane::vesk {
namespace {

constexpr std::array<int, 3> kMarkdownBytes{64, 4 * 1024, 256 * 1024};
// Large enough that no shard of LevelDB's cache evicts any of the keys the
// get cases store.
constexpr std::size_t kRoomForEverything = std::size_t{1} << 30;

void forEachMarkdownLength(benchmark::internal::Benchmark* bench) {
  bench->ArgName("markdown");
  for (const int bytes : kMarkdownBytes) bench->Arg(bytes);
}

using FilledLevelDb = FilledPeer<LevelDbMeasurementCache>;

// One per markdown length, built on first use and kept, as getHit keeps its
// filled MeasurementCache; big enough that no shard evicts.
FilledLevelDb& sharedFilledLevelDb(std::size_t markdownBytes) {
  return sharedFilled<FilledLevelDb>(markdownBytes, [](std::size_t bytes) {
    return std::make_unique<FilledLevelDb>(bytes, [](std::uint64_t, std::size_t) {
      return std::make_unique<LevelDbMeasurementCache>(kRoomForEverything);
    });
  });
}

// Looks up every key of `keys` in turn with `lookup`; a miss is an error,
// since the cache was filled with them all.
template <typename Key, typename Lookup>
void cycleThroughHits(benchmark::State& state,
                      const std::vector<Key>& keys, Lookup lookup) {
  CachedSize out;
  cycleLookups<LookupMix::kHitsOnly>(
      state, keys.size(),
      [&](std::size_t i) {
        const bool hit = lookup(keys[i], out);
        benchmark::DoNotOptimize(out);
        return hit;
      },
      [](std::size_t) {});
}

// Lookup + Release of keys serialized beforehand: LevelDB's own cost.
void levelDbGetHit(benchmark::State& state) {
  FilledLevelDb& filled =
      sharedFilledLevelDb(static_cast<std::size_t>(state.range(0)));
  cycleThroughHits(state, filled.serialized,
                   [&](const std::string& bytes, CachedSize& out) {
                     return filled.peer->getBytes(bytes, out);
                   });
}

// The same with the caller's key serialized first, as a caller holding a
// MeasurementCacheKey would have to.
void levelDbSerializeGetHit(benchmark::State& state) {
  FilledLevelDb& filled =
      sharedFilledLevelDb(static_cast<std::size_t>(state.range(0)));
  cycleThroughHits(state, filled.keys,
                   [&](const MeasurementCacheKey& key, CachedSize& out) {
                     return filled.peer->get(key, out);
                   });
}

// Insert + Release of new, already serialized keys, through the same ring of
// keys as MeasurementCache's set_insert_evicting_by_count, into a LevelDB
// cache whose capacity is the charge of the entries MeasurementCache holds,
// so that it too stays full and evicts as it inserts.
void levelDbInsertEvicting(benchmark::State& state) {
  const auto markdownBytes = static_cast<std::size_t>(state.range(0));
  const std::uint64_t charge = entryCharge(benchmarkKey(markdownBytes, 0));
  const std::size_t held = entriesHeld(charge);
  const std::vector<std::string> ring =
      serializeAll(benchmarkKeys(2 * held, markdownBytes));
  LevelDbMeasurementCache cache(static_cast<std::size_t>(held * charge));
  for (std::size_t i = 0; i < held; ++i) cache.setBytes(ring[i], charge, {});

  std::size_t next = held;
  for (auto _ : state) {
    cache.setBytes(ring[next], charge, {2.0, 2.0});
    if (++next == ring.size()) next = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["entries"] = static_cast<double>(cache.entryCount());
}

// runDocumentBenchmark's loop over LevelDB, which cannot list its entries:
// the sum of entryCharge over them is the total charge it keeps itself.
BenchmarkReport runLevelDbDocuments(LevelDbMeasurementCache& cache) {
  using Clock = std::chrono::steady_clock;
  cache.clear();
  std::uint64_t peak = 0;

  const Clock::time_point start = Clock::now();
  for (int k = 1; k <= kBenchmarkDocuments; ++k) {
    MeasurementCacheKey key{};
    key.markdown.assign(kBenchmarkDocumentStep * k, 'x');
    cache.set(key, {1.0, 2.0});
    peak = std::max(peak, cache.totalCharge());
  }
  const Clock::time_point end = Clock::now();

  BenchmarkReport report;
  report.entries = cache.entryCount();
  report.peakAccountedBytes = peak;
  report.elapsedMs =
      std::chrono::duration<double, std::milli>(end - start).count();
  return report;
}

void levelDbDocuments(benchmark::State& state) {
  LevelDbMeasurementCache cache(kBudgetedByteBudget);
  reportDocumentPasses(state, [&cache] { return runLevelDbDocuments(cache); });
}

BENCHMARK(getHit)
    ->Name("MeasurementCache/get_hit")
    ->Apply(forEachMarkdownLength);
BENCHMARK(levelDbGetHit)
    ->Name("LevelDB/lookup_release_hit")
    ->Apply(forEachMarkdownLength);
BENCHMARK(levelDbSerializeGetHit)
    ->Name("LevelDB/serialize_lookup_release_hit")
    ->Apply(forEachMarkdownLength);

// Throughput on one shared store at 1 to 8 threads, beside the cache and the
// unshared floor in the same run (see onOneToEightThreads).
template <LookupMix kMix>
void levelDbLookups(benchmark::State& state) {
  peerLookups<kMix>(state,
                    sharedFilledLevelDb(static_cast<std::size_t>(state.range(0))));
}

const bool kThreadedLookups = registerThreadedLookups();
BENCHMARK(levelDbLookups<LookupMix::kHitsOnly>)
    ->Name("LevelDB/get_hit_threads")
    ->Apply(onOneToEightThreads);
BENCHMARK(levelDbLookups<LookupMix::kOneSetInFive>)
    ->Name("LevelDB/get_set_mix_threads")
    ->Apply(onOneToEightThreads);

BENCHMARK(setInsertEvictingByCount)
    ->Name("MeasurementCache/set_insert_evicting_by_count")
    ->Apply(forEachMarkdownLength);
BENCHMARK(levelDbInsertEvicting)
    ->Name("LevelDB/insert_release_evicting")
    ->Apply(forEachMarkdownLength);

BENCHMARK(documentsThrough<MeasurementCache>)
    ->Name("MeasurementCache/documents")
    ->Apply(asDocumentCase);
BENCHMARK(levelDbDocuments)
    ->Name("LevelDB/documents")
    ->Apply(asDocumentCase);
BENCHMARK(documentsThroughTheFloor)
    ->Name("Floor/documents")
    ->Apply(asDocumentCase);

}  // namespace
}  // namespace morvane::vesk
