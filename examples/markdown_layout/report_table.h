#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_REPORT_TABLE_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_REPORT_TABLE_H_

#include <vesk/measurement_cache_limits.h>

#include <cstddef>
#include <ostream>
#include <vector>

#include "examples/markdown_layout/block_layouter.h"
#include "examples/markdown_layout/replay.h"

namespace morvane::vesk::markdown_layout {

// One replay of the session: its mode, thread count, pass and result.
struct RunReport {
  CacheMode mode = CacheMode::kNone;
  std::size_t threads = 1;
  std::size_t pass =
      1;  // cached runs: 2 and up reuse the previous pass's cache
  ReplayResult result;
};

// A markdown table, one row per run: blocks laid out, measurements, the
// cache's hits, misses, hit rate and evictions (from its statistics), total
// time, microseconds per block, speedup over the no-cache run with the same
// thread count (its time over this run's), the share of the threads' time
// spent inside cache calls (cache time / (threads x wall time)), and how many
// cores the replay ran on (CPU time / wall time). A ratio of times is "-"
// for a run that laid out no block: its times measure nothing.
void printRunTable(std::ostream& out, const std::vector<RunReport>& runs);

// The same per step kind, one row per kind and run, steps in session order.
void printStepTable(std::ostream& out, const std::vector<RunReport>& runs);

// For each mode, how much faster each thread count's first pass ran than the
// one-thread run's first pass ("-" when either laid out no block); nothing
// without a one-thread run.
void printThreadScaling(std::ostream& out, const std::vector<RunReport>& runs);

// One row per cached run: the frames it served wholly from the cache (every
// block a hit), their blocks, and their wall time against the same frames in
// the no-cache run with the same thread count.
void printServedFrameTable(std::ostream& out,
                           const std::vector<RunReport>& runs,
                           const std::vector<Frame>& frames);

// The whole report: the run table, the thread scaling when several thread
// counts ran, the measurements waiting saved, the served-frame table, the
// step table, why entries were evicted from a cache of `limits` when any
// were, and with `verify` the line that every hit equalled a fresh
// measurement.
void printReport(std::ostream& out, const std::vector<RunReport>& runs,
                 const std::vector<Frame>& frames,
                 const MeasurementCacheLimits& limits, bool verify);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_REPORT_TABLE_H_
