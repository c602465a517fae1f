#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_CAPACITY_CURVE_RUN_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_CAPACITY_CURVE_RUN_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "examples/markdown_layout/command_line.h"
#include "examples/markdown_layout/document_loading.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::markdown_layout {

// The cache sizes --capacity-curve answers for, and the one it marks.
struct CapacityGrid {
  std::vector<std::size_t> entryLimits;    // ascending
  std::vector<std::uint64_t> byteBudgets;  // ascending
  std::size_t markedEntries = 0;
  std::uint64_t markedBytes = 0;
};

// 128, 256, ... 65,536 entries by 1, 2, 4, ... 256 MiB, with the marked
// point's entry limit and byte budget added where they are not already
// there.
CapacityGrid capacityGrid(std::size_t markedEntries, std::uint64_t markedBytes);

// The hits an LRU cache of each size of `grid` gives the session's lookups.
struct CapacityCurveTable {
  CapacityGrid grid;
  std::uint64_t lookups = 0;
  std::size_t distinctKeys = 0;  // of the session, at most the largest budget
  // hits[e * grid.byteBudgets.size() + b]: at entry limit e and budget b.
  std::vector<std::uint64_t> hits;

  [[nodiscard]] std::uint64_t hitsAt(std::size_t entryIndex,
                                     std::size_t budgetIndex) const {
    return hits[entryIndex * grid.byteBudgets.size() + budgetIndex];
  }
};

// Records the lookups of `passes` replays of the session through one cache
// that starts empty and is never cleared (the frames in order, each frame's
// blocks in order: what a one-thread replay asks the cache) into a
// CapacityCurve, and reads it at every size of `grid`. Builds each block's
// key as the replay does and measures nothing. Throws std::bad_alloc.
CapacityCurveTable recordCapacityCurve(const std::vector<Document>& documents,
                                       const std::vector<Frame>& frames,
                                       const LayoutOptions& options,
                                       std::size_t passes,
                                       const CapacityGrid& grid);

// Two markdown tables, entry limits down and byte budgets across: the hit
// rate, then the hits (each a measurement saved), the marked point's cells
// followed by '*', under a line that says what was recorded.
void printCapacityCurve(std::ostream& out, const CapacityCurveTable& table);

// The line "entries\tbytes\tlookups\thits", then one line per size, entry
// limits in the outer order, bytes in bytes.
void printCapacityCurveTsv(std::ostream& out, const CapacityCurveTable& table);

// A gnuplot script that draws the hit rate against the entry limit, one line
// per byte budget and the marked point, as an SVG file at `svgPath` (which
// must not hold a line break).
std::string capacityCurveGnuplotScript(const CapacityCurveTable& table,
                                       const std::string& svgPath);

// The first executable regular file named `name` in the directories of
// `searchPath`, separated by ':' (an empty one is the current directory),
// or an empty string when there is none.
std::string findProgram(std::string_view name, std::string_view searchPath);

// Runs the gnuplot at `gnuplot` on `script`, written to a temporary file
// that is removed afterwards. Returns an empty string when gnuplot exited
// with status 0, otherwise what went wrong.
std::string runGnuplot(const std::string& gnuplot, const std::string& script);

// The whole --capacity-curve run: records the session, prints the table
// (line.tsv: the tab-separated lines) on `out`, then, only if
// line.capacityCurveSvg names a file, draws it there with the gnuplot found
// on `searchPath` (the PATH environment variable when null). Without
// gnuplot it says so on `err` and draws nothing. Returns the exit status:
// 1 when gnuplot failed, else 0.
int runCapacityCurve(const CommandLine& line,
                     const std::vector<Document>& documents,
                     const std::vector<Frame>& frames,
                     const LayoutOptions& options, std::ostream& out,
                     std::ostream& err, const char* searchPath = nullptr);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_CAPACITY_CURVE_RUN_H_
