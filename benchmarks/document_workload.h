#ifndef VESK_BENCHMARKS_DOCUMENT_WORKLOAD_H_
#define VESK_BENCHMARKS_DOCUMENT_WORKLOAD_H_

#include <benchmark/benchmark.h>

#include "bench/document_benchmark.h"
#include "benchmarks/document_floor.h"

namespace morvane::vesk {

// Seconds each repetition of a document case runs at least: a run takes tens
// of milliseconds, so this gives each repetition several runs.
inline constexpr double kDocumentsMinTime = 0.5;

// Calls `runOnePass` (returning a BenchmarkReport) once per iteration and
// reports the time each pass measured itself: the insertion loop alone, not
// the clear() before it. Register with ->Apply(asDocumentCase).
template <typename RunOnePass>
void reportDocumentPasses(benchmark::State& state, RunOnePass runOnePass) {
  BenchmarkReport report;
  for (auto _ : state) {
    report = runOnePass();
    state.SetIterationTime(report.elapsedMs / 1e3);
  }
  state.counters["entries"] = static_cast<double>(report.entries);
  state.counters["peakAccountedBytes"] =
      static_cast<double>(report.peakAccountedBytes);
}

// The 512-document workload exactly as the programs run it.
template <typename Cache>
void runDocumentWorkload(benchmark::State& state, Cache& cache) {
  reportDocumentPasses(state, [&cache] { return runDocumentBenchmark(cache); });
}

// The document workload through a fresh `Cache`.
template <typename Cache>
void documentsThrough(benchmark::State& state) {
  Cache cache;
  runDocumentWorkload(state, cache);
}

// The same memory work with no cache at all: what every cache is divided by.
inline void documentsThroughTheFloor(benchmark::State& state) {
  DocumentFloor floor;
  runDocumentWorkload(state, floor);
  benchmark::DoNotOptimize(floor.hashFold());
}

// What every document case shares: its own timing of the insertion loop,
// long enough repetitions, milliseconds. Use with ->Apply().
inline void asDocumentCase(benchmark::internal::Benchmark* bench) {
  bench->UseManualTime()
      ->MinTime(kDocumentsMinTime)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_DOCUMENT_WORKLOAD_H_
