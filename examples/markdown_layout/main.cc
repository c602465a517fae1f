// markdown_layout: lays out markdown documents as a viewer would, once
// measuring every block and once through MeasurementCache::shared(), and
// reports what the cache saved. See README.md, "Markdown layout example".

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "cache/measurement_cache.h"
#include "examples/markdown_layout/block_extraction.h"
#include "examples/markdown_layout/block_listing.h"
#include "examples/markdown_layout/block_measurement.h"
#include "examples/markdown_layout/document_loading.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/progress_line.h"
#include "examples/markdown_layout/replay.h"
#include "examples/markdown_layout/report_table.h"
#include "examples/markdown_layout/text_shaper.h"
#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::markdown_layout {
namespace {

constexpr const char* kUsage =
    "usage: markdown_layout [--threads N[,N...]] [--passes N] [--verify] "
    "[--blocks] [PATH...]\n"
    "  PATH       a markdown file, or a directory searched for *.md and "
    "*.md.gz\n"
    "             (default: /usr/share/doc/docker-doc)\n"
    "  --threads  thread counts to replay the session with (default 1)\n"
    "  --passes   replays through the cache without clearing it (default 1)\n"
    "  --verify   measure every hit again; exit 1 naming the first block\n"
    "             whose cached size differs\n"
    "  --blocks   list each block (document, lines, kind, size) and exit\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommandLine {
  std::vector<std::size_t> threads{1};
  std::size_t passes = 1;
  bool verify = false;
  bool blocks = false;
  bool help = false;
  std::vector<std::string> paths;
};

std::size_t parseCount(std::string_view text, std::string_view option) {
  std::size_t value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > 256) {
    throw UsageError(std::string(option) +
                     " wants a number from 1 to 256, not '" +
                     std::string(text) + "'");
  }
  return value;
}

CommandLine parseCommandLine(int argc, char** argv) {
  CommandLine line;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) throw UsageError(std::string(arg) + " wants a value");
      return argv[++i];
    };
    if (optionsEnded || !arg.starts_with("-") || arg == "-") {
      line.paths.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--verify") {
      line.verify = true;
    } else if (arg == "--blocks") {
      line.blocks = true;
    } else if (arg == "--passes") {
      line.passes = parseCount(value(), arg);
    } else if (arg == "--threads") {
      line.threads.clear();
      std::string_view list = value();
      for (;;) {
        const std::size_t comma = list.find(',');
        line.threads.push_back(parseCount(list.substr(0, comma), arg));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
      }
    } else {
      throw UsageError("unknown option '" + std::string(arg) + "'");
    }
  }
  return line;
}

std::vector<Document> loadDocuments(const std::vector<std::string>& paths) {
  std::vector<Document> documents;
  const std::vector<std::string> files = findMarkdownFiles(paths);
  ProgressLine progress("loading");
  for (const std::string& file : files) {
    documents.push_back(Document{file, extractBlocks(loadMarkdownFile(file))});
    progress.update(documents.size(), files.size());
  }
  return documents;
}

// Plans the session from the blocks' heights, measured once without the
// cache (not part of any timed run).
std::vector<Frame> planSession(const std::vector<Document>& documents,
                               const LayoutOptions& options,
                               const ViewerGeometry& geometry) {
  TextShaper shaper(kFontDirectory);
  std::map<std::tuple<std::size_t, std::size_t, double>, double> heights;
  ProgressLine progress("planning");
  const BlockHeight height = [&](std::size_t doc, std::size_t block,
                                 double width) {
    auto [it, inserted] = heights.try_emplace({doc, block, width}, 0.0);
    if (inserted) {
      LayoutOptions at = options;
      at.maxWidth = width;
      it->second =
          measureBlock(layoutKey(documents[doc].blocks[block], at), shaper)
              .height;
      progress.update(doc + 1, documents.size());
    }
    return it->second;
  };
  std::vector<std::size_t> counts;
  counts.reserve(documents.size());
  for (const Document& document : documents) {
    counts.push_back(document.blocks.size());
  }
  return planViewerSession(counts, geometry, height);
}

std::string describe(const Mismatch& mismatch,
                     const std::vector<Document>& documents) {
  const Document& document = documents[mismatch.document];
  std::ostringstream text;
  text.precision(17);
  text << "verify: " << document.path << " block " << mismatch.block
       << " (line " << document.blocks[mismatch.block].firstLine << "): cached "
       << mismatch.cached.width << " x " << mismatch.cached.height
       << " px, measured " << mismatch.measured.width << " x "
       << mismatch.measured.height << " px";
  return text.str();
}

int run(const CommandLine& line) {
  std::vector<std::string> paths = line.paths;
  if (paths.empty()) {
    paths.emplace_back(kDefaultDocumentDirectory);
    std::error_code ignored;
    if (!std::filesystem::exists(paths.front(), ignored)) {
      throw InputError(paths.front() +
                       ": not found (the docker-doc package provides it: "
                       "./scripts/install-deps.sh)");
    }
  }
  const std::vector<Document> documents = loadDocuments(paths);
  if (line.blocks) {
    TextShaper shaper(kFontDirectory);
    std::cout << kBlockListingHeader << '\n';
    for (const Document& document : documents) {
      listBlocks(std::cout, document.path, document.blocks, {}, shaper);
    }
    return 0;
  }
  const LayoutOptions options;
  const ViewerGeometry geometry;
  const std::vector<Frame> frames = planSession(documents, options, geometry);

  std::size_t blocks = 0;
  std::size_t largest = 0;
  for (const Document& document : documents) {
    blocks += document.blocks.size();
    largest = std::max(largest, document.blocks.size());
  }
  std::size_t layouts = 0;
  for (const Frame& frame : frames)
    layouts += frame.endBlock - frame.firstBlock;
  std::printf(
      "%zu documents, %zu blocks (largest document %zu); session: %zu frames, "
      "%zu block layouts per replay\n",
      documents.size(), blocks, largest, frames.size(), layouts);
  std::printf(
      "font %.0f px, line spacing %.2f, widths %.0f and %.0f px, screen %.0f "
      "px; cache: at most %zu entries, %llu MiB%s\n\n",
      options.fontSize, options.lineSpacing, geometry.narrowWidth,
      geometry.wideWidth, geometry.screenHeight, MeasurementCache::kMaxEntries,
      static_cast<unsigned long long>(MeasurementCache::kByteBudget >> 20),
      line.verify ? "; --verify: hits are measured again, times include it"
                  : "");
  std::fflush(stdout);

  MeasurementCache& cache = MeasurementCache::shared();
  std::vector<RunReport> runs;
  for (const std::size_t threads : line.threads) {
    const auto replay = [&](CacheMode mode, std::size_t pass) {
      ReplaySettings settings;
      settings.mode = mode;
      settings.threads = threads;
      settings.verify = line.verify;
      settings.options = options;
      ProgressLine progress(
          std::string(mode == CacheMode::kNone ? "no cache" : "cache") + ", " +
          std::to_string(threads) + " thread(s), pass " + std::to_string(pass));
      RunReport report{mode, threads, pass,
                       replaySession(documents, frames, settings, cache,
                                     [&](std::size_t done, std::size_t total) {
                                       progress.update(done, total);
                                     })};
      if (report.result.mismatch) {
        throw std::runtime_error(describe(*report.result.mismatch, documents));
      }
      runs.push_back(report);
    };
    replay(CacheMode::kNone, 1);
    cache.clear();  // no thread uses the cache between replays
    for (std::size_t pass = 1; pass <= line.passes; ++pass) {
      replay(CacheMode::kCached, pass);
    }
  }

  std::cout << "Whole session:\n\n";
  printRunTable(std::cout, runs);
  if (line.threads.size() > 1) {
    std::cout << '\n';
    printThreadScaling(std::cout, runs);
  }
  std::cout << "\nRepaint frames served wholly by the cache, against the same "
               "frames without it:\n\n";
  printServedFrameTable(std::cout, runs, frames);
  std::cout << "\nBy step:\n\n";
  printStepTable(std::cout, runs);
  if (line.verify)
    std::cout << "\nverify: every hit equals a fresh measurement\n";
  return 0;
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout

int main(int argc, char** argv) {
  using namespace morvane::vesk::markdown_layout;
  try {
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
      std::fputs(kUsage, stdout);
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
