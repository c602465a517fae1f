// markdown_layout: lays out markdown documents as a viewer would, once
// measuring every block and once through MeasurementCache::shared(), and
// reports what the cache saved. See README.md, "Markdown layout example".
//
// The program is the model of embedding the cache: parse the options, load
// the documents, plan the viewer session, replay it without and through the
// cache, report.

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <vesk/measurement_cache.h>

#include "examples/markdown_layout/block_listing.h"
#include "examples/markdown_layout/capacity_curve_run.h"
#include "examples/markdown_layout/checked_output.h"
#include "examples/markdown_layout/command_line.h"
#include "examples/markdown_layout/document_loading.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/progress_line.h"
#include "examples/markdown_layout/replay.h"
#include "examples/markdown_layout/report_table.h"
#include "examples/markdown_layout/session_planning.h"
#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::markdown_layout {
namespace {

void printProblem(const PathReason& problem) {
  std::fprintf(stderr, "markdown_layout: %s: %s\n",
               problem.path.empty() ? "''" : problem.path.c_str(),
               problem.reason.c_str());
}

// The documents the command line names, or nothing when any of them is
// refused: each refusal is printed first, and the run is refused as a whole
// so that the report never describes fewer documents than were named.
// Entries a directory walk skipped are printed and do not refuse the run.
std::optional<std::vector<Document>> load(const CommandLine& line) {
  std::vector<std::string> paths = line.paths;
  if (paths.empty()) {
    paths.emplace_back(kDefaultDocumentDirectory);
    std::error_code ignored;
    if (!std::filesystem::exists(paths.front(), ignored)) {
      throw InputError(paths.front(),
                       "not found (the docker-doc package provides it: "
                       "./scripts/install-deps.sh)");
    }
  }
  const MarkdownFiles found = findMarkdownFiles(paths);
  for (const PathReason& skipped : found.skipped) {
    std::fprintf(stderr, "markdown_layout: skipped %s: %s\n",
                 skipped.path.c_str(), skipped.reason.c_str());
  }
  LoadedDocuments loaded;
  {
    ProgressLine progress("loading");
    loaded = loadDocuments(found.files, line.limits,
                           [&](std::size_t done, std::size_t total) {
                             progress.update(done, total);
                           });
  }
  for (const PathReason& refused : found.refused) printProblem(refused);
  for (const PathReason& refused : loaded.refused) printProblem(refused);
  const std::size_t refusals = found.refused.size() + loaded.refused.size();
  if (refusals == 0) return std::move(loaded.documents);
  std::fprintf(stderr,
               "markdown_layout: nothing laid out: %zu of the named paths "
               "and documents refused (see --help)\n",
               refusals);
  return std::nullopt;
}

void printSession(const std::vector<Document>& documents,
                  const std::vector<Frame>& frames,
                  const LayoutOptions& options, const ViewerGeometry& geometry,
                  const MeasurementCacheLimits& limits, bool verify) {
  std::size_t blocks = 0;
  std::size_t largest = 0;
  for (const Document& document : documents) {
    blocks += document.blocks.size();
    largest = std::max(largest, document.blocks.size());
  }
  std::size_t layouts = 0;
  for (const Frame& frame : frames) {
    layouts += frame.endBlock - frame.firstBlock;
  }
  std::printf(
      "%zu documents, %zu blocks (largest document %zu); session: %zu frames, "
      "%zu block layouts per replay\n",
      documents.size(), blocks, largest, frames.size(), layouts);
  std::printf(
      "font %.0f px, line spacing %.2f, widths %.0f and %.0f px, screen %.0f "
      "px; cache: at most %zu entries, %llu bytes%s\n\n",
      options.fontSize, options.lineSpacing, geometry.narrowWidth,
      geometry.wideWidth, geometry.screenHeight, limits.maxEntries,
      static_cast<unsigned long long>(limits.byteBudget),
      verify ? "; --verify: hits are measured again, times include it" : "");
  std::fflush(stdout);
}

// For each thread count: the session without the cache, then line.passes
// times through `cache`, which starts empty for the first pass.
std::vector<RunReport> replayRuns(const CommandLine& line,
                                  const std::vector<Document>& documents,
                                  const std::vector<Frame>& frames,
                                  const LayoutOptions& options,
                                  MeasurementCache& cache) {
  std::vector<RunReport> runs;
  for (const std::size_t threads : line.threads) {
    const auto replay = [&](CacheMode mode, std::size_t pass) {
      const ReplaySettings settings{mode, threads, line.verify, options};
      ProgressLine progress(
          std::string(mode == CacheMode::kNone ? "no cache" : "cache") + ", " +
          std::to_string(threads) + " thread(s), pass " + std::to_string(pass));
      RunReport report{mode, threads, pass,
                       replaySession(documents, frames, settings, cache,
                                     [&](std::size_t done, std::size_t total) {
                                       progress.update(done, total);
                                     })};
      if (report.result.mismatch) {
        throw std::runtime_error(
            describeMismatch(*report.result.mismatch, documents));
      }
      runs.push_back(std::move(report));
    };
    replay(CacheMode::kNone, 1);
    cache.clear();  // no thread uses the cache between replays
    for (std::size_t pass = 1; pass <= line.passes; ++pass) {
      replay(CacheMode::kCached, pass);
    }
  }
  return runs;
}

int run(const CommandLine& line) {
  const std::optional<std::vector<Document>> documents = load(line);
  if (!documents) return 1;

  const LayoutOptions options;
  if (line.blocks) {
    TextShaper shaper(kFontDirectory);
    std::cout << kBlockListingHeader << '\n';
    for (const Document& document : *documents) {
      listBlocks(std::cout, document.path, document.blocks, options, shaper);
      flushStandardOutput();  // stop measuring once the listing is lost
    }
    return 0;
  }

  const ViewerGeometry geometry;
  std::vector<Frame> frames;
  {
    ProgressLine progress("planning");
    frames = planSession(*documents, options, geometry,
                         [&](std::size_t done, std::size_t total) {
                           progress.update(done, total);
                         });
  }
  if (line.capacityCurve) {
    const int status = runCapacityCurve(line, *documents, frames, options,
                                        std::cout, std::cerr);
    flushStandardOutput();
    return status;
  }
  printSession(*documents, frames, options, geometry, line.cacheLimits,
               line.verify);
  flushStandardOutput();

  MeasurementCache& cache = MeasurementCache::shared();
  cache.setLimits(line.cacheLimits);
  const std::vector<RunReport> runs =
      replayRuns(line, *documents, frames, options, cache);

  printReport(std::cout, runs, frames, line.cacheLimits, line.verify);
  flushStandardOutput();
  return 0;
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout

int main(int argc, char** argv) {
  using namespace morvane::vesk::markdown_layout;
  try {
    // A reader that goes away (`| head -c1`) is a failed write like any
    // other: reported as "write error: Broken pipe" with status 1, not a
    // silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    watchStandardOutput();
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
      std::fputs(kUsage, stdout);
      flushStandardOutput();
      return 0;
    }
    return run(line);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "markdown_layout: %s\n%s", error.what(), kUsage);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "markdown_layout: %s\n", error.what());
    return 1;
  }
}
