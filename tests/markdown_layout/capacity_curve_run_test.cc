// --capacity-curve's run: the session's lookups recorded once give, at the
// marked size, the hits a real replay through a cache of that size counts;
// the table, the tab-separated lines and the picture's script.

#include "examples/markdown_layout/capacity_curve_run.h"

#include <gtest/gtest.h>
#include <vesk/measurement_cache.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "examples/markdown_layout/block_extraction.h"
#include "examples/markdown_layout/replay.h"
#include "tests/markdown_layout/temporary_directory.h"
#include "tests/markdown_layout/test_frames.h"

namespace morvane::vesk::markdown_layout {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// Two documents longer than the default cache holds (their whole-document
// layout evicts their own first blocks), and a short one; the paragraphs of
// every fifth line repeat across documents.
std::vector<Document> makeDocuments() {
  std::vector<Document> documents;
  for (const std::size_t count : {600U, 40U, 700U}) {
    std::string text;
    for (std::size_t b = 0; b < count; ++b) {
      const std::string id = b % 5 == 0 ? "shared " + std::to_string(b % 50)
                                        : std::to_string(documents.size()) +
                                              "." + std::to_string(b);
      text += "Paragraph " + id + " with *a few* words" +
              std::string(b % 4 * 12, '.') + "\n\n";
    }
    documents.push_back(Document{"doc" + std::to_string(documents.size()),
                                 extractBlocks(text)});
  }
  return documents;
}

std::vector<Frame> makeFrames(const std::vector<Document>& documents) {
  return testing::planTestFrames(documents, 300.0);
}

std::size_t indexOf(const auto& values, const auto& value) {
  return static_cast<std::size_t>(
      std::find(values.begin(), values.end(), value) - values.begin());
}

struct Session {
  std::vector<Document> documents = makeDocuments();
  std::vector<Frame> frames = makeFrames(documents);
};

const Session& session() {
  static const Session made;
  return made;
}

// At the default size and at sizes where the entry limit or the byte budget
// binds harder, over one and two passes.
TEST(CapacityCurveRun, HitsAtTheMarkedSizeAreThoseOfARealReplay) {
  const Session& s = session();
  for (const MeasurementCacheLimits limits :
       {MeasurementCacheLimits{}, MeasurementCacheLimits{100, 8 * kMiB},
        MeasurementCacheLimits{65536, std::uint64_t{64} * 1024},
        MeasurementCacheLimits{7, kMiB}}) {
    for (const std::size_t passes : {1U, 2U}) {
      SCOPED_TRACE(std::to_string(limits.maxEntries) + " entries, " +
                   std::to_string(limits.byteBudget) + " bytes, " +
                   std::to_string(passes) + " passes");
      const CapacityGrid grid =
          capacityGrid(limits.maxEntries, limits.byteBudget);
      const CapacityCurveTable table =
          recordCapacityCurve(s.documents, s.frames, {}, passes, grid);

      MeasurementCache cache(limits);
      std::uint64_t hits = 0;
      std::uint64_t lookups = 0;
      for (std::size_t pass = 0; pass < passes; ++pass) {
        const ReplayResult replayed =
            replaySession(s.documents, s.frames, ReplaySettings{}, cache, {});
        hits += replayed.total().cache.hits;
        lookups += replayed.total().cache.hits + replayed.total().cache.misses;
      }
      EXPECT_GT(cache.stats().evictionsByEntryLimit +
                    cache.stats().evictionsByByteBudget,
                0U);
      EXPECT_EQ(table.lookups, lookups);
      const std::size_t e = indexOf(grid.entryLimits, grid.markedEntries);
      const std::size_t b = indexOf(grid.byteBudgets, grid.markedBytes);
      EXPECT_EQ(table.hitsAt(e, b), hits);
      // Every key fits the largest size, so it hits all lookups but the
      // first of each key.
      EXPECT_EQ(table.hitsAt(grid.entryLimits.size() - 1,
                             grid.byteBudgets.size() - 1),
                lookups - table.distinctKeys);
      EXPECT_GT(hits, 0U);
    }
  }
}

TEST(CapacityCurveRun, TheGridHoldsTheMarkedSize) {
  const CapacityGrid standard = capacityGrid(512, 8 * kMiB);
  EXPECT_EQ(standard.entryLimits.size(), 10U);  // 128 .. 65536
  EXPECT_EQ(standard.entryLimits.front(), 128U);
  EXPECT_EQ(standard.entryLimits.back(), 65536U);
  EXPECT_EQ(standard.byteBudgets.size(), 9U);  // 1 .. 256 MiB
  EXPECT_EQ(standard.byteBudgets.front(), kMiB);
  EXPECT_EQ(standard.byteBudgets.back(), 256 * kMiB);

  const CapacityGrid other = capacityGrid(1000, 3 * kMiB + 1);
  EXPECT_EQ(other.entryLimits.size(), 11U);
  EXPECT_EQ(other.byteBudgets.size(), 10U);
  EXPECT_TRUE(
      std::is_sorted(other.entryLimits.begin(), other.entryLimits.end()));
  EXPECT_TRUE(
      std::is_sorted(other.byteBudgets.begin(), other.byteBudgets.end()));
  EXPECT_EQ(other.entryLimits[indexOf(other.entryLimits, 1000U)], 1000U);
  EXPECT_EQ(other.byteBudgets[indexOf(other.byteBudgets, 3 * kMiB + 1)],
            3 * kMiB + 1);
}

// A made-up table over a grid of two sizes by two.
CapacityCurveTable smallTable() {
  CapacityCurveTable table;
  table.grid.entryLimits = {128, 512};
  table.grid.byteBudgets = {kMiB, 8 * kMiB};
  table.grid.markedEntries = 512;
  table.grid.markedBytes = 8 * kMiB;
  table.lookups = 1000;
  table.distinctKeys = 300;
  table.hits = {100, 150, 400, 731};
  return table;
}

TEST(CapacityCurveRun, TabSeparatedLinesCarryEverySizeInBytes) {
  std::ostringstream out;
  printCapacityCurveTsv(out, smallTable());
  EXPECT_EQ(out.str(),
            "entries\tbytes\tlookups\thits\n"
            "128\t1048576\t1000\t100\n"
            "128\t8388608\t1000\t150\n"
            "512\t1048576\t1000\t400\n"
            "512\t8388608\t1000\t731\n");
}

TEST(CapacityCurveRun, TheTablesMarkTheMarkedSize) {
  std::ostringstream out;
  printCapacityCurve(out, smallTable());
  const std::string text = out.str();
  EXPECT_NE(text.find("| entries |  1 MiB |  8 MiB |"), std::string::npos)
      << text;
  EXPECT_NE(text.find("| 512     | 40.0%  | 73.1%* |"), std::string::npos)
      << text;
  EXPECT_NE(text.find("| 512     |  400  |  731* |"), std::string::npos)
      << text;
  EXPECT_NE(text.find("* marks 512 entries, 8 MiB"), std::string::npos);
}

TEST(CapacityCurveRun, FindsOnlyExecutableFilesOnTheSearchPath) {
  const testing::TemporaryDirectory directory;
  const std::string plain = directory.write("plain/gnuplot", "");
  const std::string runnable = directory.write("runnable/gnuplot", "");
  std::filesystem::permissions(runnable, std::filesystem::perms::owner_all);
  std::filesystem::create_directories(directory.path("folder/gnuplot"));
  const std::string path =
      directory.path("missing") + ":" + directory.path("plain") + ":" +
      directory.path("folder") + ":" + directory.path("runnable");
  EXPECT_EQ(findProgram("gnuplot", path), runnable);
  EXPECT_EQ(findProgram("gnuplot", directory.path("plain")), "");
  EXPECT_EQ(findProgram("gnuplot", ""), "");
}

TEST(CapacityCurveRun, WithoutGnuplotPrintsTheTableAndSaysSo) {
  const Session& s = session();
  const testing::TemporaryDirectory directory;
  CommandLine line;
  line.capacityCurve = true;
  line.tsv = true;
  line.capacityCurveSvg = directory.path("curve.svg");
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(runCapacityCurve(line, s.documents, s.frames, {}, out, err,
                             directory.path().c_str()),
            0);
  EXPECT_EQ(out.str().rfind("entries\tbytes\tlookups\thits\n", 0), 0U);
  EXPECT_NE(err.str().find("gnuplot not found"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(line.capacityCurveSvg));
}

// A run asked for text writes no file: gnuplot runs only when
// --capacity-curve-svg names one (a stand-in gnuplot that leaves a mark
// shows whether it ran).
TEST(CapacityCurveRun, DrawsOnlyWhenAPictureIsAskedFor) {
  const Session& s = session();
  const testing::TemporaryDirectory directory;
  const std::string mark = directory.path("gnuplot-ran");
  const std::string gnuplot =
      directory.write("bin/gnuplot", "#!/bin/sh\ntouch '" + mark + "'\n");
  std::filesystem::permissions(gnuplot, std::filesystem::perms::owner_all);
  for (const bool tsv : {true, false}) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(std::string(tsv ? "--tsv" : "tables") +
                   (named ? ", picture named" : ""));
      std::filesystem::remove(mark);
      CommandLine line;
      line.capacityCurve = true;
      line.tsv = tsv;
      if (named) line.capacityCurveSvg = directory.path("curve.svg");
      std::ostringstream out;
      std::ostringstream err;
      EXPECT_EQ(runCapacityCurve(line, s.documents, s.frames, {}, out, err,
                                 directory.path("bin").c_str()),
                0);
      EXPECT_EQ(std::filesystem::exists(mark), named);
      EXPECT_EQ(err.str().empty(), !(named && tsv)) << err.str();
    }
  }
}

// The picture itself, where gnuplot is installed; its script quotes the
// path as gnuplot reads it.
TEST(CapacityCurveRun, GnuplotDrawsTheCurveAtTheNamedPath) {
  const testing::TemporaryDirectory directory;
  const std::string svg = directory.path("it's a curve.svg");
  const std::string script = capacityCurveGnuplotScript(smallTable(), svg);
  EXPECT_NE(script.find("set output '" + directory.path("it''s a curve.svg'")),
            std::string::npos);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): no test changes the environment
  const char* searchPath = std::getenv("PATH");
  const std::string gnuplot =
      findProgram("gnuplot", searchPath != nullptr ? searchPath : "");
  if (gnuplot.empty()) GTEST_SKIP() << "gnuplot is not installed";
  EXPECT_EQ(runGnuplot(gnuplot, script), "");
  std::ifstream file(svg);
  const std::string drawn((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  EXPECT_NE(drawn.find("<svg"), std::string::npos);
  EXPECT_NE(drawn.find("512 entries, 8 MiB"), std::string::npos)
      << "the marked point is in the picture's key";
  EXPECT_NE(runGnuplot(gnuplot, "this is not gnuplot\n"), "");
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
