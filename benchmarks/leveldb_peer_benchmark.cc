// MeasurementCache beside LevelDB's LRU cache on the same get-hit,
// inserting-set and 512-document workloads, in one program so that both run
// in the same heap state and the same stretch of a noisy machine.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
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

std::vector<std::string> serializeAll(
    const std::vector<MeasurementCacheKey>& keys) {
  std::vector<std::string> serialized(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    serializeKey(keys[i], serialized[i]);
  }
  return serialized;
}

// The keys MeasurementCache's get_hit stores for this length, in LevelDB.
struct FilledLevelDb {
  explicit FilledLevelDb(std::size_t markdownBytes)
      : keys(benchmarkKeys(entriesHeld(entryCharge(benchmarkKey(
                               markdownBytes, 0))),
                           markdownBytes)),
        serialized(serializeAll(keys)),
        cache(kRoomForEverything) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      cache.setBytes(serialized[i], entryCharge(keys[i]), {1.0, 1.0});
    }
  }
  std::vector<MeasurementCacheKey> keys;
  std::vector<std::string> serialized;
  LevelDbMeasurementCache cache;
};

// One per markdown length, built on first use and kept, as getHit keeps its
// filled MeasurementCache.
FilledLevelDb& sharedFilledLevelDb(std::size_t markdownBytes) {
  static std::map<std::size_t, std::unique_ptr<FilledLevelDb>> caches;
  std::unique_ptr<FilledLevelDb>& filled = caches[markdownBytes];
  if (!filled) filled = std::make_unique<FilledLevelDb>(markdownBytes);
  return *filled;
}

// Looks up every key of `keys` in turn with `lookup`; a miss is an error,
// since the cache was filled with them all.
template <typename Key, typename Lookup>
void cycleThroughHits(benchmark::State& state, const FilledLevelDb& filled,
                      const std::vector<Key>& keys, Lookup lookup) {
  std::size_t next = 0;
  std::uint64_t misses = 0;
  CachedSize out;
  for (auto _ : state) {
    misses += lookup(keys[next], out) ? 0 : 1;
    benchmark::DoNotOptimize(out);
    if (++next == keys.size()) next = 0;
  }
  if (misses != 0) state.SkipWithError("a stored key missed");
  state.SetItemsProcessed(state.iterations());
  state.counters["entries"] = static_cast<double>(filled.cache.entryCount());
}

// Lookup + Release of keys serialized beforehand: LevelDB's own cost.
void levelDbGetHit(benchmark::State& state) {
  FilledLevelDb& filled =
      sharedFilledLevelDb(static_cast<std::size_t>(state.range(0)));
  cycleThroughHits(state, filled, filled.serialized,
                   [&](const std::string& bytes, CachedSize& out) {
                     return filled.cache.getBytes(bytes, out);
                   });
}

// The same with the caller's key serialized first, as a caller holding a
// MeasurementCacheKey would have to.
void levelDbSerializeGetHit(benchmark::State& state) {
  FilledLevelDb& filled =
      sharedFilledLevelDb(static_cast<std::size_t>(state.range(0)));
  cycleThroughHits(state, filled, filled.keys,
                   [&](const MeasurementCacheKey& key, CachedSize& out) {
                     return filled.cache.get(key, out);
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
