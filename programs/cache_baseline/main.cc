// cache_baseline: runs the document benchmark against the earlier,
// entry-count-only form of the measurement cache, for comparison with
// cache_check's "after" line. Reads no arguments and no input.
#include <cstdio>

#include "baseline/measurement_cache.h"
#include "bench/document_benchmark.h"
#include "bench/standard_output.h"

int main() {
  using namespace morvane::vesk;
  const BenchmarkReport report = runDocumentBenchmark(MeasurementCache::shared());
  std::fputs(formatReportLine("before", report).c_str(), stdout);
  return flushStandardOutput("cache_baseline") ? 0 : 1;
}
