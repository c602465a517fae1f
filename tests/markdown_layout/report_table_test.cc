// The report's arithmetic on made-up runs, whose every figure is known.

#include "examples/markdown_layout/report_table.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

constexpr std::int64_t kMs = 1'000'000;

// A run whose open frames took `openMs` and scroll-down frames `scrollMs`,
// over 10 and 20 blocks; the cached ones hit `hits` of the 30.
RunReport makeRun(CacheMode mode, std::size_t threads, std::int64_t openMs,
                  std::int64_t scrollMs, std::uint64_t hits,
                  const std::vector<std::int64_t>& frameMs,
                  std::vector<bool> served) {
  RunReport run{mode, threads, 1, {}};
  const bool cached = mode == CacheMode::kCached;
  StepTotals& open = run.result.steps[static_cast<int>(StepKind::kOpen)];
  StepTotals& scroll =
      run.result.steps[static_cast<int>(StepKind::kScrollDown)];
  open.wallNanoseconds = openMs * kMs;
  scroll.wallNanoseconds = scrollMs * kMs;
  open.counts.blocks = 10;
  scroll.counts.blocks = 20;
  open.counts.measurements = cached ? 10 - hits / 3 : 10;
  scroll.counts.measurements = cached ? 20 - (hits - hits / 3) : 20;
  if (cached) {
    open.cache = CacheTraffic{hits / 3, 10 - hits / 3, 4, 0};
    scroll.cache = CacheTraffic{hits - hits / 3, 20 - (hits - hits / 3), 0, 1};
  }
  for (const std::int64_t ms : frameMs) {
    run.result.frameNanoseconds.push_back(ms * kMs);
  }
  run.result.servedByCache = std::move(served);
  run.result.cpuNanoseconds = 3 * (openMs + scrollMs) * kMs;
  run.result.replayWallNanoseconds = 2 * (openMs + scrollMs) * kMs;
  return run;
}

// The rows of the markdown tables in `text`, by their leading cells joined
// with '/' ("cache/1"), each row's cells after those.
std::map<std::string, std::vector<std::string>> rows(const std::string& text,
                                                     std::size_t keyCells) {
  std::map<std::string, std::vector<std::string>> found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with("| ")) continue;
    std::vector<std::string> cells;
    std::istringstream row(line.substr(1));
    std::string cell;
    while (std::getline(row, cell, '|')) {
      const auto first = cell.find_first_not_of(' ');
      const auto last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos
                          ? ""
                          : cell.substr(first, last - first + 1));
    }
    std::string key;
    for (std::size_t c = 0; c < keyCells; ++c) key += (c ? "/" : "") + cells[c];
    found[key] = {cells.begin() + static_cast<std::ptrdiff_t>(keyCells),
                  cells.end()};
  }
  return found;
}

class ReportTable : public ::testing::Test {
 protected:
  // Without the cache: 300 ms on one thread, 200 ms on two; through it:
  // 100 ms on one thread (3x faster), 400 ms on two (half as fast). Three
  // frames; the cache served the last two on one thread, the last on two.
  std::vector<RunReport> runs{
      makeRun(CacheMode::kNone, 1, 100, 200, 0, {10, 20, 30}, {}),
      makeRun(CacheMode::kCached, 1, 40, 60, 20, {5, 4, 6},
              {false, true, true}),
      makeRun(CacheMode::kNone, 2, 50, 150, 0, {8, 8, 8}, {}),
      makeRun(CacheMode::kCached, 2, 300, 100, 21, {9, 9, 16},
              {false, false, true}),
  };
  std::vector<Frame> frames{{StepKind::kOpen, 0, 720, 0, 10},
                            {StepKind::kScrollDown, 0, 720, 0, 5},
                            {StepKind::kScrollDown, 0, 720, 5, 20}};
};

TEST_F(ReportTable, RunTableDividesTheNoCacheTimeByTheCachedTime) {
  std::ostringstream out;
  printRunTable(out, runs);
  const auto table = rows(out.str(), 2);
  // threads blocks measured hits misses rate evicted ms us/block speedup
  // cache-share cores
  const std::vector<std::string> cached1 = table.at("cache/1");
  EXPECT_EQ(cached1[1], "10");     // measured
  EXPECT_EQ(cached1[2], "20");     // hits
  EXPECT_EQ(cached1[3], "10");     // misses
  EXPECT_EQ(cached1[4], "66.7%");  // hit rate
  EXPECT_EQ(cached1[5], "5");      // evicted, by either limit
  EXPECT_EQ(cached1[6], "100.0");  // ms
  EXPECT_EQ(cached1[7], "3333.33");
  EXPECT_EQ(cached1[8], "3.0x");
  EXPECT_EQ(cached1[10], "1.50");  // cores used: CPU over wall time
  EXPECT_EQ(table.at("cache/2")[8], "0.5x");
  EXPECT_EQ(table.at("no cache/2")[8], "1.0x");
  EXPECT_EQ(table.at("no cache/1")[2], "-");
}

TEST_F(ReportTable, StepTableComparesEachStepWithTheSameStep) {
  std::ostringstream out;
  printStepTable(out, runs);
  const auto table = rows(out.str(), 3);
  // threads blocks measured hits misses rate evicted ms us/block speedup
  EXPECT_EQ(table.at("open/cache/1")[8], "2.5x");         // 100 / 40
  EXPECT_EQ(table.at("scroll down/cache/1")[8], "3.3x");  // 200 / 60
  EXPECT_EQ(table.at("open/cache/2")[8], "0.2x");         // 50 / 300
  EXPECT_EQ(table.at("scroll down/cache/2")[8], "1.5x");  // 150 / 100
  EXPECT_EQ(table.at("open/cache/1")[5], "4");
  EXPECT_EQ(table.at("scroll down/cache/1")[5], "1");
  EXPECT_EQ(table.at("resize back/cache/1")[7], "-");  // no blocks
  EXPECT_EQ(table.at("resize back/cache/1")[8], "-");
}

TEST_F(ReportTable, ThreadScalingDividesTheOneThreadTime) {
  std::ostringstream out;
  printThreadScaling(out, runs);
  EXPECT_EQ(out.str(),
            "2 threads against 1, without the cache: 1.50x faster\n"
            "2 threads against 1, through the cache: 0.25x faster\n");
}

// Second passes reuse the first pass's cache: the thread scaling compares
// first passes only, however the runs are ordered.
TEST_F(ReportTable, ThreadScalingComparesFirstPassesOnly) {
  RunReport secondAtOne =
      makeRun(CacheMode::kCached, 1, 5, 5, 30, {1, 1, 1}, {true, true, true});
  RunReport secondAtTwo =
      makeRun(CacheMode::kCached, 2, 1, 1, 30, {1, 1, 1}, {true, true, true});
  secondAtOne.pass = 2;
  secondAtTwo.pass = 2;
  const std::vector<RunReport> withSecondPasses{runs[0], runs[1], secondAtOne,
                                                runs[2], runs[3], secondAtTwo};
  std::ostringstream out;
  printThreadScaling(out, withSecondPasses);
  EXPECT_EQ(out.str(),
            "2 threads against 1, without the cache: 1.50x faster\n"
            "2 threads against 1, through the cache: 0.25x faster\n");
}

// Runs that laid out no block (documents without any) took some time, but
// no ratio of such times means anything: every one is "-".
TEST_F(ReportTable, NoRatioOfTimesFromRunsWithoutBlocks) {
  for (RunReport& run : runs) {
    for (StepTotals& step : run.result.steps) {
      step.counts = LayoutCounts{};
      step.cache = CacheTraffic{};
    }
    run.result.servedByCache.assign(frames.size(), false);
  }
  std::ostringstream out;
  printReport(out, runs, frames, MeasurementCacheLimits{}, false);
  const std::string text = out.str();
  const auto whole = rows(text.substr(0, text.find("Repaint frames")), 2);
  for (const char* run : {"no cache/1", "cache/1", "no cache/2", "cache/2"}) {
    SCOPED_TRACE(run);
    const std::vector<std::string>& row = whole.at(run);
    EXPECT_EQ(row[8], "-");   // speedup
    EXPECT_EQ(row[9], "-");   // in cache calls
    EXPECT_EQ(row[10], "-");  // cores used
  }
  const auto steps = rows(text.substr(text.find("By step")), 3);
  for (const char* step : {"open/no cache/1", "open/cache/1",
                           "scroll down/cache/2", "resize back/cache/1"}) {
    EXPECT_EQ(steps.at(step)[8], "-") << step;
  }
  EXPECT_NE(text.find("2 threads against 1, without the cache: -\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("2 threads against 1, through the cache: -\n"),
            std::string::npos);
  EXPECT_EQ(text.find("x faster"), std::string::npos) << text;
}

TEST_F(ReportTable, ServedFramesAddUpOnlyTheFramesTheCacheServed) {
  std::ostringstream out;
  printServedFrameTable(out, runs, frames);
  const auto table = rows(out.str(), 2);
  // frames blocks cached-ms no-cache-ms cached-us/block no-cache-us/block
  // speedup
  EXPECT_EQ(table.at("cache/1"),
            (std::vector<std::string>{"2", "20", "10.0", "50.0", "500.00",
                                      "2500.00", "5.0x"}));
  EXPECT_EQ(table.at("cache/2"),
            (std::vector<std::string>{"1", "15", "16.0", "8.0", "1066.67",
                                      "533.33", "0.5x"}));
}

// The waits of every step add up, and are given out of the misses.
TEST_F(ReportTable, SavedByWaitingAddsEachStepsWaitsOutOfItsMisses) {
  for (RunReport& run : runs) {
    run.result.steps[static_cast<int>(StepKind::kOpen)].cache.waits = 2;
    run.result.steps[static_cast<int>(StepKind::kScrollDown)].cache.waits = 3;
  }
  std::ostringstream out;
  printReport(out, runs, frames, MeasurementCacheLimits{}, false);
  // 20 hits of 30 lookups at one thread, 21 at two.
  EXPECT_NE(out.str().find("measurements saved by waiting, cache, 1 thread: "
                           "5 (of 10 misses)\n"
                           "measurements saved by waiting, cache, 2 threads: "
                           "5 (of 9 misses)\n"),
            std::string::npos)
      << out.str();
}

TEST_F(ReportTable, ReportExplainsEvictionsOnlyWhenThereWere) {
  std::ostringstream withEvictions;
  printReport(withEvictions, runs, frames, {100, 1 << 20}, false);
  EXPECT_NE(withEvictions.str().find("Evicted entries"), std::string::npos);
  EXPECT_NE(withEvictions.str().find("at most 100 blocks and 1048576 bytes"),
            std::string::npos);
  for (RunReport& run : runs) {
    for (StepTotals& step : run.result.steps) {
      step.cache.evictionsByEntryLimit = 0;
      step.cache.evictionsByByteBudget = 0;
    }
  }
  std::ostringstream without;
  printReport(without, runs, frames, MeasurementCacheLimits{}, true);
  EXPECT_EQ(without.str().find("Evicted entries"), std::string::npos);
  EXPECT_NE(without.str().find("verify: every hit equals"), std::string::npos);
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
