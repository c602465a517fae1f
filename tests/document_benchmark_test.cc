#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "bench/document_benchmark.h"
#include "cache/measurement_cache.h"

namespace morvane::vesk {
namespace {

TEST(ReportLine, PrintsEveryKeyInOrderWithSixDecimals) {
  BenchmarkReport report;
  report.entries = 8;
  report.peakAccountedBytes = 8388288;
  report.elapsedMs = 12.0;
  report.keyStructBytes = 272;
  report.entryStructBytes = 288;
  EXPECT_EQ(formatReportLine("after", report),
            "{\"label\":\"after\",\"entries\":8,\"peakAccountedBytes\":8388288,"
            "\"elapsedMs\":12.000000,\"keyStructBytes\":272,"
            "\"entryStructBytes\":288}\n");
  report.elapsedMs = 0.0000004;
  EXPECT_NE(formatReportLine("before", report)
                .find("\"label\":\"before\",\"entries\":8,"),
            std::string::npos);
  EXPECT_NE(formatReportLine("before", report).find("\"elapsedMs\":0.000000,"),
            std::string::npos);
}

TEST(DocumentBenchmark, StartsFromAnEmptyCacheWhateverRanBefore) {
  MeasurementCache cache;
  MeasurementCacheKey leftover{};
  for (int i = 0; i < 512; ++i) {
    leftover.markdown = std::to_string(i);
    cache.set(leftover, {0, 0});
  }
  const BenchmarkReport report = runDocumentBenchmark(cache);
  // Only the byte budget evicts: the last eight documents (505..512 KiB)
  // fit, and the peak stays below 8 MiB.
  EXPECT_EQ(report.entries, 8u);
  EXPECT_EQ(report.peakAccountedBytes, 8388288u);
  EXPECT_GE(report.elapsedMs, 0.0);
  EXPECT_EQ(report.keyStructBytes, sizeof(MeasurementCacheKey));
  EXPECT_EQ(report.entryStructBytes, sizeof(MeasurementCache::CacheEntry));
  std::size_t visited = 0;
  cache.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
    EXPECT_EQ(entry.key.markdown.size(), (512 - visited) * 1024);
    ++visited;
  });
  EXPECT_EQ(visited, 8u);
}

// A cache whose clear() takes a known, long time.
class SlowClearCache : public MeasurementCache {
 public:
  static constexpr std::chrono::milliseconds kClearTime{200};
  void clear() noexcept {
    std::this_thread::sleep_for(kClearTime);
    MeasurementCache::clear();
  }
};

TEST(DocumentBenchmark, TimesTheInsertionsButNotTheClearing) {
  using Clock = std::chrono::steady_clock;
  SlowClearCache cache;
  const Clock::time_point start = Clock::now();
  const BenchmarkReport report = runDocumentBenchmark(cache);
  const std::chrono::duration<double, std::milli> whole = Clock::now() - start;
  // The clearing and the timed loop are disjoint parts of the whole run, so
  // together they fit in it, however slow the machine.
  EXPECT_LE(report.elapsedMs + SlowClearCache::kClearTime.count(),
            whole.count());
  EXPECT_EQ(report.entries, 8u);
}

}  // namespace
}  // namespace morvane::vesk
