// The byte-budgeted MeasurementCache: its operations one by one, then the
// 512-document workload beside the floor it is measured against.
#include <benchmark/benchmark.h>

#include <array>

#include "benchmarks/cache_cases.h"
#include "benchmarks/document_workload.h"
#include "cache/measurement_cache.h"

namespace morvane::vesk {
namespace {

constexpr std::array<int, 3> kMarkdownBytes{64, 4 * 1024, 256 * 1024};

void forEachMarkdownLength(benchmark::internal::Benchmark* bench) {
  bench->ArgName("markdown");
  for (const int bytes : kMarkdownBytes) bench->Arg(bytes);
}

BENCHMARK(getHit)
    ->Name("MeasurementCache/get_hit")
    ->Apply(forEachMarkdownLength);
BENCHMARK(getOrMeasureHit)
    ->Name("MeasurementCache/get_or_measure_hit")
    ->Apply(forEachMarkdownLength);
// A fixed count: each iteration refills the cache untimed, which would
// otherwise run for as many iterations as the short timed part allows.
BENCHMARK(setLimitsHalving)
    ->Name("MeasurementCache/set_limits_halving")
    ->Apply(forEachMarkdownLength)
    ->Iterations(200);
BENCHMARK(getMiss)
    ->Name("MeasurementCache/get_miss")
    ->Apply(forEachMarkdownLength);
BENCHMARK(setUpdate)
    ->Name("MeasurementCache/set_update")
    ->Apply(forEachMarkdownLength);
BENCHMARK(setInsertEvictingByCount)
    ->Name("MeasurementCache/set_insert_evicting_by_count")
    ->Apply(forEachMarkdownLength);
BENCHMARK(setInsertEvictingByBytes)
    ->Name("MeasurementCache/set_insert_evicting_by_bytes")
    ->Apply(forEachMarkdownLength);
BENCHMARK(removeMatchingMarkdownScan)
    ->Name("MeasurementCache/remove_matching_markdown")
    ->Apply(forEachMarkdownLength);

// Throughput on one shared cache beside the same lookups with nothing shared,
// timed in the same run, so that the gain from n threads can be set beside
// what the machine gives.
const bool kThreadedLookups = registerThreadedLookups();
BENCHMARK(setInsertEvictingShared)
    ->Name("MeasurementCache/set_insert_threads")
    ->ArgName("markdown")
    ->Arg(64)
    ->Arg(std::int64_t{4} * 1024)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

BENCHMARK(documentsThrough<MeasurementCache>)
    ->Name("MeasurementCache/documents")
    ->Apply(asDocumentCase);
BENCHMARK(documentsThroughTheFloor)
    ->Name("Floor/documents")
    ->Apply(asDocumentCase);

}  // namespace
}  // namespace morvane::vesk
