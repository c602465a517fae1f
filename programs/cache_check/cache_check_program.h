#ifndef VESK_PROGRAMS_CACHE_CHECK_CACHE_CHECK_PROGRAM_H_
#define VESK_PROGRAMS_CACHE_CHECK_CACHE_CHECK_PROGRAM_H_

#include <cstdio>

#include "bench/document_benchmark.h"
#include "bench/standard_output.h"
#include "programs/cache_check/behaviour_checks.h"

namespace morvane::vesk {

// The whole of cache_check over `cache`, which must be empty: the behaviour
// checks (ending the process with status 1 at the first failure, before
// anything reaches standard output), the PASS line, then the document
// benchmark's "after" line. Returns the exit status.
template <typename Cache>
int runCacheCheck(Cache& cache) {
  runBehaviourChecks(cache);
  std::fputs(kPassLine, stdout);
  const BenchmarkReport report = runDocumentBenchmark(cache);
  std::fputs(formatReportLine("after", report).c_str(), stdout);
  return flushStandardOutput("cache_check") ? 0 : 1;
}

}  // namespace morvane::vesk

#endif  // VESK_PROGRAMS_CACHE_CHECK_CACHE_CHECK_PROGRAM_H_
