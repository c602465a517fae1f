#include "examples/markdown_layout/command_line.h"

#include <charconv>
#include <cstdint>
#include <string_view>

namespace morvane::vesk::markdown_layout {

const char* const kUsage =
    "usage: markdown_layout [--threads N[,N...]] [--passes N] [--verify]\n"
    "                       [--blocks] [--entries N] [--bytes BYTES]\n"
    "                       [--capacity-curve [--tsv] "
    "[--capacity-curve-svg PATH]]\n"
    "                       [--max-file-size BYTES] "
    "[--max-inflated-size BYTES]\n"
    "                       [--max-table-columns N] [--max-markup N] "
    "[PATH...]\n"
    "  PATH       a markdown file, or a directory searched for *.md and "
    "*.md.gz\n"
    "             (default: /usr/share/doc/docker-doc); entries a directory\n"
    "             walk skips are named on standard error with the reason\n"
    "  --threads  thread counts to replay the session with, 1 to 256 "
    "(default 1)\n"
    "  --passes   replays through the cache without clearing it, 1 to 256\n"
    "             (default 1)\n"
    "  --verify   measure every hit again; exit 1 naming the first block\n"
    "             whose cached size differs\n"
    "  --blocks   list each block (document, lines, kind, size at 720 px),\n"
    "             one tab-separated line each, and exit without replaying; in\n"
    "             document names \\\\ \\t \\n \\r stand for a backslash, tab, line\n"
    "             feed and carriage return, \\xHH for other control bytes\n"
    "             (--threads, --passes, --verify, --entries and --bytes set\n"
    "             the replay, so --blocks refuses them)\n"
    "The cache (BYTES takes a K, M or G suffix, or KiB, MiB or GiB: powers of\n"
    "1024):\n"
    "  --entries  the most entries the cache holds, 1 to 16777216 (default "
    "512)\n"
    "  --bytes    the most bytes it accounts, 560 to 64G (default 8M)\n"
    "  --capacity-curve\n"
    "             instead of replaying, record the session's lookups once and\n"
    "             print the hit rate and the measurements the hits save at\n"
    "             128, 256, ... 65536 entries by 1, 2, 4, ... 256 MiB (and at\n"
    "             --entries and --bytes, the point marked *), exactly as an\n"
    "             LRU cache of each size would have answered them; with\n"
    "             --passes, the session that many times over one cache\n"
    "             (its lookups are recorded in order on one thread, so it\n"
    "             refuses --threads and --verify)\n"
    "  --tsv      with --capacity-curve: print tab-separated lines under the\n"
    "             header entries, bytes, lookups, hits instead (bytes in "
    "bytes)\n"
    "  --capacity-curve-svg PATH\n"
    "             with --capacity-curve: also draw the curve as an SVG file\n"
    "             at PATH, with gnuplot (without this option no file is\n"
    "             written)\n"
    "Limits of the documents (BYTES up to 1G):\n"
    "  --max-file-size      bytes of one file as stored, plain or compressed\n"
    "                       (default 16M)\n"
    "  --max-inflated-size  bytes a *.md.gz may inflate to; inflating stops\n"
    "                       there (default 16M)\n"
    "  --max-table-columns  columns of one table, 1 to 65535 (default 256)\n"
    "  --max-markup         markup characters of one document, 8 to 1048576\n"
    "                       (default 65536): line ends and the characters\n"
    "                       ! \" & ' ) * + - . : < > @ [ \\ ] _ ` | ~, each of\n"
    "                       which may cost the parsers 1 KiB; one block may\n"
    "                       hold an eighth of them (a code or HTML block any)\n"
    "Every document is loaded before anything is laid out. A document that\n"
    "cannot be read, starts with the byte order mark of an encoding other\n"
    "than UTF-8 (UTF-8's own is dropped) or passes a limit refuses the whole\n"
    "run: each such document is named with its reason and the program exits\n"
    "1 without a report, because the report's figures would otherwise\n"
    "describe fewer documents than were named.\n"
    "A write to standard output that fails ends the program with\n"
    "\"write error: REASON\" and status 1.\n";

namespace {

// The largest BYTES value: a document the markdown parser can hold with room
// to spare (it aborts the process past 1 GiB).
constexpr std::uint64_t kMaxByteLimit = std::uint64_t{1} << 30;

// The most markup characters of one document: 1 GiB of parser memory.
constexpr std::uint64_t kMaxMarkup = std::uint64_t{1} << 20;

// The cache's own limits: its budget must hold an entry of an empty key (two
// copies of the 280-byte key record); at the largest entry limit the index's
// buckets alone take 128 MiB.
constexpr std::uint64_t kMinCacheBytes = kSmallestEntryCharge;
constexpr std::uint64_t kMaxCacheBytes = std::uint64_t{64} << 30;
constexpr std::uint64_t kMaxCacheEntries = std::uint64_t{1} << 24;

std::uint64_t parseNumber(std::string_view text, std::string_view option,
                          std::uint64_t low, std::uint64_t high,
                          bool sizeSuffix, const std::string& wanted) {
  std::uint64_t unit = 1;
  std::string_view digits = text;
  if (sizeSuffix && digits.ends_with("iB")) digits.remove_suffix(2);
  if (sizeSuffix && !digits.empty()) {
    switch (digits.back()) {
      case 'K':
      case 'k':
        unit = std::uint64_t{1} << 10;
        break;
      case 'M':
      case 'm':
        unit = std::uint64_t{1} << 20;
        break;
      case 'G':
      case 'g':
        unit = std::uint64_t{1} << 30;
        break;
      default:
        break;
    }
  }
  if (unit != 1) {
    digits.remove_suffix(1);
  } else if (digits.size() != text.size()) {
    digits = {};  // "iB" without a unit
  }
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value);
  const bool parsed = error == std::errc() && !digits.empty() &&
                      end == digits.data() + digits.size() &&
                      value <= high / unit;
  if (!parsed || value * unit < low || value * unit > high) {
    throw UsageError(std::string(option) + " wants " + wanted + ", not '" +
                     std::string(text) + "'");
  }
  return value * unit;
}

std::size_t parseCount(std::string_view text, std::string_view option) {
  return static_cast<std::size_t>(
      parseNumber(text, option, 1, 256, false, "a number from 1 to 256"));
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool optionsEnded = false;
  bool svgNamed = false;
  // The first option named that only a replay uses, and the first of those
  // that --capacity-curve cannot use either: a mode that would ignore an
  // option refuses it, so that no output describes settings it never used.
  std::string_view replayOption;
  std::string_view unrecordedOption;
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
      if (unrecordedOption.empty()) unrecordedOption = arg;
    } else if (arg == "--blocks") {
      line.blocks = true;
    } else if (arg == "--passes") {
      if (replayOption.empty()) replayOption = arg;
      line.passes = parseCount(value(), arg);
    } else if (arg == "--threads") {
      if (unrecordedOption.empty()) unrecordedOption = arg;
      line.threads.clear();
      std::string_view list = value();
      for (;;) {
        const std::size_t comma = list.find(',');
        line.threads.push_back(parseCount(list.substr(0, comma), arg));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
      }
    } else if (arg == "--entries") {
      if (replayOption.empty()) replayOption = arg;
      line.cacheLimits.maxEntries = static_cast<std::size_t>(parseNumber(
          value(), arg, 1, kMaxCacheEntries, false,
          "a number from 1 to " + std::to_string(kMaxCacheEntries)));
    } else if (arg == "--bytes") {
      if (replayOption.empty()) replayOption = arg;
      line.cacheLimits.byteBudget =
          parseNumber(value(), arg, kMinCacheBytes, kMaxCacheBytes, true,
                      "a size from 560 to 64G");
    } else if (arg == "--capacity-curve") {
      line.capacityCurve = true;
    } else if (arg == "--tsv") {
      line.tsv = true;
    } else if (arg == "--capacity-curve-svg") {
      line.capacityCurveSvg = value();
      if (line.capacityCurveSvg.empty() ||
          line.capacityCurveSvg.find('\n') != std::string::npos) {
        throw UsageError(std::string(arg) +
                         " wants a path without line breaks, not '" +
                         line.capacityCurveSvg + "'");
      }
      svgNamed = true;
    } else if (arg == "--max-file-size") {
      line.limits.maxFileBytes = parseNumber(value(), arg, 1, kMaxByteLimit,
                                             true, "a size from 1 to 1G");
    } else if (arg == "--max-inflated-size") {
      line.limits.maxInflatedBytes = parseNumber(value(), arg, 1, kMaxByteLimit,
                                                 true, "a size from 1 to 1G");
    } else if (arg == "--max-markup") {
      line.limits.maxMarkup = static_cast<std::size_t>(parseNumber(
          value(), arg, 8, kMaxMarkup, false, "a number from 8 to 1048576"));
    } else if (arg == "--max-table-columns") {
      line.limits.maxTableColumns = static_cast<std::size_t>(parseNumber(
          value(), arg, 1, 65535, false, "a number from 1 to 65535"));
    } else {
      throw UsageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (!line.capacityCurve && (line.tsv || svgNamed)) {
    throw UsageError(std::string(line.tsv ? "--tsv" : "--capacity-curve-svg") +
                     " goes with --capacity-curve");
  }
  if (line.capacityCurve && line.blocks) {
    throw UsageError("--capacity-curve and --blocks exclude each other");
  }
  if (line.capacityCurve && !unrecordedOption.empty()) {
    throw UsageError(std::string(unrecordedOption) +
                     " goes with a replay, not with --capacity-curve, which "
                     "records the session's lookups in order on one thread");
  }
  if (line.blocks) {
    const std::string_view ignored =
        !unrecordedOption.empty() ? unrecordedOption : replayOption;
    if (!ignored.empty()) {
      throw UsageError(std::string(ignored) +
                       " goes with a replay, not with --blocks");
    }
  }
  return line;
}

}  // namespace morvane::vesk::markdown_layout
