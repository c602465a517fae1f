// The earlier, count-only MeasurementCache on the 512-document workload,
// beside the same floor as the byte-budgeted cache. A program of its own,
// since both forms define the same class.
#include <benchmark/benchmark.h>

#include "baseline/measurement_cache.h"
#include "benchmarks/document_workload.h"

namespace morvane::vesk {
namespace {

BENCHMARK(documentsThrough<MeasurementCache>)
    ->Name("BaselineCache/documents")
    ->Apply(asDocumentCase);
BENCHMARK(documentsThroughTheFloor)
    ->Name("Floor/documents")
    ->Apply(asDocumentCase);

}  // namespace
}  // namespace morvane::vesk
