#include "examples/markdown_layout/report_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace morvane::vesk::markdown_layout {
namespace {

using Row = std::vector<std::string>;

// Prints a markdown table: the first `leftColumns` columns left-aligned, the
// others right-aligned.
void printTable(std::ostream& out, const Row& header,
                const std::vector<Row>& rows, std::size_t leftColumns = 1) {
  std::vector<std::size_t> widths(header.size(), 0);
  const auto measure = [&](const Row& row) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], row[c].size());
    }
  };
  measure(header);
  for (const Row& row : rows) measure(row);
  const auto print = [&](const Row& row) {
    out << '|';
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - row[c].size(), ' ');
      out << ' ' << (c < leftColumns ? row[c] + pad : pad + row[c]) << " |";
    }
    out << '\n';
  };
  print(header);
  out << '|';
  for (std::size_t c = 0; c < header.size(); ++c) {
    const std::string dashes(widths[c] + 1, '-');
    out << (c < leftColumns ? ":" + dashes + "|" : dashes + ":|");
  }
  out << '\n';
  for (const Row& row : rows) print(row);
}

std::string fixed(double value, int decimals) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
  return text.data();
}

std::string modeName(const RunReport& run) {
  if (run.mode == CacheMode::kNone) return "no cache";
  return run.pass == 1 ? "cache" : "cache, pass " + std::to_string(run.pass);
}

// The columns both tables share, from the counts and times of `step` and of
// the no-cache run's same step (`baseline`, null when there is none): the
// hits, misses and evictions are the cache's own statistics.
Row figures(const RunReport& run, const StepTotals& step,
            const StepTotals* baseline) {
  const LayoutCounts& c = step.counts;
  const CacheTraffic& cache = step.cache;
  const bool cached = run.mode == CacheMode::kCached;
  const double ms = static_cast<double>(step.wallNanoseconds) / 1e6;
  const auto lookups = static_cast<double>(cache.hits + cache.misses);
  Row row{
      std::to_string(run.threads),
      std::to_string(c.blocks),
      std::to_string(c.measurements),
      cached ? std::to_string(cache.hits) : "-",
      cached ? std::to_string(cache.misses) : "-",
      cached && lookups > 0
          ? fixed(100.0 * static_cast<double>(cache.hits) / lookups, 1) + "%"
          : "-",
      cached ? std::to_string(cache.evictions()) : "-",
      fixed(ms, 1),
      c.blocks > 0 ? fixed(ms * 1e3 / static_cast<double>(c.blocks), 2) : "-",
  };
  // How many times faster than without the cache: the baseline's time over
  // this run's; nothing when no block was laid out, since a time that
  // measured nothing compares nothing.
  if (baseline != nullptr && step.wallNanoseconds > 0 && c.blocks > 0) {
    row.push_back(fixed(static_cast<double>(baseline->wallNanoseconds) /
                            static_cast<double>(step.wallNanoseconds),
                        1) +
                  "x");
  } else {
    row.emplace_back("-");
  }
  return row;
}

const RunReport* noCacheRun(const std::vector<RunReport>& runs,
                            std::size_t threads) {
  for (const RunReport& run : runs) {
    if (run.mode == CacheMode::kNone && run.threads == threads) return &run;
  }
  return nullptr;
}

}  // namespace

void printRunTable(std::ostream& out, const std::vector<RunReport>& runs) {
  const Row header{"mode",      "threads",  "blocks",   "measured",
                   "hits",      "misses",   "hit rate", "evicted",
                   "total ms",  "us/block", "speedup",  "in cache calls",
                   "cores used"};
  std::vector<Row> rows;
  for (const RunReport& run : runs) {
    const StepTotals total = run.result.total();
    const RunReport* baseline = noCacheRun(runs, run.threads);
    StepTotals baselineTotal;
    if (baseline != nullptr) baselineTotal = baseline->result.total();
    Row row =
        figures(run, total, baseline != nullptr ? &baselineTotal : nullptr);
    row.insert(row.begin(), modeName(run));
    const double threadTime = static_cast<double>(total.wallNanoseconds) *
                              static_cast<double>(run.threads);
    const bool laidOut = total.counts.blocks > 0;
    row.push_back(
        run.mode == CacheMode::kCached && threadTime > 0 && laidOut
            ? fixed(100.0 * static_cast<double>(total.counts.cacheNanoseconds) /
                        threadTime,
                    2) +
                  "%"
            : "-");
    const auto cpu = static_cast<double>(run.result.cpuNanoseconds);
    const auto wall = static_cast<double>(run.result.replayWallNanoseconds);
    row.push_back(wall > 0 && laidOut ? fixed(cpu / wall, 2) : "-");
    rows.push_back(std::move(row));
  }
  printTable(out, header, rows);
}

void printStepTable(std::ostream& out, const std::vector<RunReport>& runs) {
  const Row header{"step",     "mode", "threads",  "blocks",
                   "measured", "hits", "misses",   "hit rate",
                   "evicted",  "ms",   "us/block", "speedup"};
  std::vector<Row> rows;
  for (std::size_t kind = 0; kind < kStepKindCount; ++kind) {
    for (const RunReport& run : runs) {
      const RunReport* baseline = noCacheRun(runs, run.threads);
      Row row = figures(
          run, run.result.steps[kind],
          baseline != nullptr ? &baseline->result.steps[kind] : nullptr);
      row.insert(row.begin(), modeName(run));
      row.insert(row.begin(),
                 std::string(stepKindName(static_cast<StepKind>(kind))));
      rows.push_back(std::move(row));
    }
  }
  printTable(out, header, rows, 2);
}

void printThreadScaling(std::ostream& out, const std::vector<RunReport>& runs) {
  for (const CacheMode mode : {CacheMode::kNone, CacheMode::kCached}) {
    const RunReport* one = nullptr;
    for (const RunReport& run : runs) {
      if (run.mode == mode && run.pass == 1 && run.threads == 1) one = &run;
    }
    if (one == nullptr) continue;
    const StepTotals oneTotal = one->result.total();
    const auto oneTime = static_cast<double>(oneTotal.wallNanoseconds);
    for (const RunReport& run : runs) {
      if (run.mode != mode || run.pass != 1 || run.threads == 1) continue;
      const StepTotals total = run.result.total();
      const auto time = static_cast<double>(total.wallNanoseconds);
      const bool laidOut =
          oneTotal.counts.blocks > 0 && total.counts.blocks > 0;
      out << run.threads << " threads against 1, "
          << (mode == CacheMode::kNone ? "without the cache"
                                       : "through the cache")
          << ": "
          << (time > 0 && laidOut ? fixed(oneTime / time, 2) + "x faster" : "-")
          << "\n";
    }
  }
}

void printServedFrameTable(std::ostream& out,
                           const std::vector<RunReport>& runs,
                           const std::vector<Frame>& frames) {
  const Row header{
      "mode",      "threads",     "frames",          "blocks",
      "cached ms", "no-cache ms", "cached us/block", "no-cache us/block",
      "speedup"};
  std::vector<Row> rows;
  for (const RunReport& run : runs) {
    const RunReport* baseline = noCacheRun(runs, run.threads);
    if (run.mode != CacheMode::kCached || baseline == nullptr) continue;
    std::size_t served = 0;
    std::size_t blocks = 0;
    std::int64_t cached = 0;
    std::int64_t uncached = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
      if (!run.result.servedByCache[f]) continue;
      ++served;
      blocks += frames[f].endBlock - frames[f].firstBlock;
      cached += run.result.frameNanoseconds[f];
      uncached += baseline->result.frameNanoseconds[f];
    }
    const auto perBlock = [&](std::int64_t ns) {
      return blocks > 0 ? fixed(static_cast<double>(ns) / 1e3 /
                                    static_cast<double>(blocks),
                                2)
                        : "-";
    };
    rows.push_back(Row{
        modeName(run), std::to_string(run.threads), std::to_string(served),
        std::to_string(blocks), fixed(static_cast<double>(cached) / 1e6, 1),
        fixed(static_cast<double>(uncached) / 1e6, 1), perBlock(cached),
        perBlock(uncached),
        cached > 0
            ? fixed(static_cast<double>(uncached) / static_cast<double>(cached),
                    1) +
                  "x"
            : "-"});
  }
  printTable(out, header, rows);
}

void printReport(std::ostream& out, const std::vector<RunReport>& runs,
                 const std::vector<Frame>& frames,
                 const MeasurementCacheLimits& limits, bool verify) {
  out << "Whole session:\n\n";
  printRunTable(out, runs);
  bool severalThreadCounts = false;
  for (const RunReport& run : runs) {
    severalThreadCounts |= run.threads != runs.front().threads;
  }
  if (severalThreadCounts) {
    out << '\n';
    printThreadScaling(out, runs);
  }
  out << '\n';
  for (const RunReport& run : runs) {
    if (run.mode != CacheMode::kCached) continue;
    const CacheTraffic cache = run.result.total().cache;
    out << "measurements saved by waiting, " << modeName(run) << ", "
        << run.threads << (run.threads == 1 ? " thread: " : " threads: ")
        << cache.waits << " (of " << cache.misses << " misses)\n";
  }
  out << "\nRepaint frames served wholly by the cache, against the same "
         "frames without it:\n\n";
  printServedFrameTable(out, runs, frames);
  out << "\nBy step:\n\n";
  printStepTable(out, runs);
  std::uint64_t evictions = 0;
  for (const RunReport& run : runs) {
    evictions += run.result.total().cache.evictions();
  }
  if (evictions > 0) {
    out << "\nEvicted entries make room for newer ones: the cache holds at "
           "most "
        << limits.maxEntries << " blocks and " << limits.byteBudget
        << " bytes, so laying out the whole of a longer document evicts its "
           "first blocks, and scrolling back up to them misses.\n";
  }
  if (verify) out << "\nverify: every hit equals a fresh measurement\n";
}

}  // namespace morvane::vesk::markdown_layout
