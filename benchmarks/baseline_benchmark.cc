// The earlier, count-only MeasurementCache on the 512-document workload,
// beside the same floor as the byte-budgeted cache. A program of its own,
// since both forms define the same class.
#include <benchmark/benchmark.h>

#include "baseline/measurement_cache.h"
#include "benchmarks/document_floor.h"
#include "benchmarks/document_workload.h"

namespace morvane::vesk {
namespace {

void documentsThroughTheBaseline(benchmark::State& state) {
  MeasurementCache cache;
  runDocumentWorkload(state, cache);
}
void documentsThroughTheFloor(benchmark::State& state) {
  DocumentFloor floor;
  runDocumentWorkload(state, floor);
  benchmark::DoNotOptimize(floor.hashFold());
}

BENCHMARK(documentsThroughTheBaseline)
    ->Name("BaselineCache/documents")
    ->UseManualTime()
    ->MinTime(kDocumentsMinTime)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(documentsThroughTheFloor)
    ->Name("Floor/documents")
    ->UseManualTime()
    ->MinTime(kDocumentsMinTime)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvane::vesk
