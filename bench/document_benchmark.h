#ifndef VESK_BENCH_DOCUMENT_BENCHMARK_H_
#define VESK_BENCH_DOCUMENT_BENCHMARK_H_

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cache/entry_charge.h"
#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// What one run of the document benchmark observed.
struct BenchmarkReport {
  std::uint64_t entries = 0;             // entries held after the last document
  std::uint64_t peakAccountedBytes = 0;  // most bytes held after any insertion
  double elapsedMs = 0.0;                // the insertion loop only
  std::size_t keyStructBytes = 0;
  std::size_t entryStructBytes = 0;
};

inline constexpr int kBenchmarkDocuments = 512;
inline constexpr std::size_t kBenchmarkDocumentStep = 1024;

// Clears `cache`, then stores 512 ever larger documents (1 KiB, 2 KiB, ...,
// 512 KiB of 'x', every other field zero) and after each insertion sums
// entryCharge over the stored entries, so that the peak means the same for a
// cache that keeps no byte count of its own. Only the insertion loop, the
// summing included, is timed.
//
// Works on any cache with clear(), set(), entryCount() and forEachEntry();
// not thread-safe, since clear() and forEachEntry() are not.
template <typename Cache>
BenchmarkReport runDocumentBenchmark(Cache& cache) {
  using Clock = std::chrono::steady_clock;
  cache.clear();
  std::uint64_t peak = 0;

  const Clock::time_point start = Clock::now();
  for (int k = 1; k <= kBenchmarkDocuments; ++k) {
    MeasurementCacheKey key{};
    key.markdown.assign(kBenchmarkDocumentStep * k, 'x');
    cache.set(key, {1.0, 2.0});
    std::uint64_t total = 0;
    cache.forEachEntry([&total](const typename Cache::CacheEntry& entry) {
      total += entryCharge(entry.key);
    });
    peak = std::max(peak, total);
  }
  const Clock::time_point end = Clock::now();

  BenchmarkReport report;
  report.entries = cache.entryCount();
  report.peakAccountedBytes = peak;
  report.elapsedMs =
      static_cast<double>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(end - start)
              .count()) /
      1e6;
  report.keyStructBytes = sizeof(MeasurementCacheKey);
  report.entryStructBytes = sizeof(typename Cache::CacheEntry);
  return report;
}

// The report as one JSON line with its newline; `label` is printed as is.
std::string formatReportLine(const char* label, const BenchmarkReport& report);

}  // namespace morvane::vesk

#endif  // VESK_BENCH_DOCUMENT_BENCHMARK_H_
