#include "examples/markdown_layout/capacity_curve_run.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vesk/capacity_curve.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <system_error>

extern char** environ;  // POSIX: the process's environment

namespace morvane::vesk::markdown_layout {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::string sizeName(std::uint64_t bytes) {
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes) + " B";
}

std::string percent(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "-";
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.1f%%",
                100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text.data();
}

template <typename T>
void insertSorted(std::vector<T>& values, T value) {
  const auto at = std::lower_bound(values.begin(), values.end(), value);
  if (at == values.end() || *at != value) values.insert(at, value);
}

// A markdown table with the row labels left-aligned and the cells right.
void printGrid(std::ostream& out, const CapacityCurveTable& table,
               const std::string& corner,
               std::string (*cell)(const CapacityCurveTable&, std::size_t,
                                   std::size_t)) {
  const CapacityGrid& grid = table.grid;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> header{corner};
  for (const std::uint64_t bytes : grid.byteBudgets) {
    header.push_back(sizeName(bytes));
  }
  rows.push_back(header);
  for (std::size_t e = 0; e < grid.entryLimits.size(); ++e) {
    std::vector<std::string> row{std::to_string(grid.entryLimits[e])};
    for (std::size_t b = 0; b < grid.byteBudgets.size(); ++b) {
      const bool marked = grid.entryLimits[e] == grid.markedEntries &&
                          grid.byteBudgets[b] == grid.markedBytes;
      row.push_back(cell(table, e, b) + (marked ? "*" : " "));
    }
    rows.push_back(std::move(row));
  }
  std::vector<std::size_t> widths(header.size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], row[c].size());
    }
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    out << '|';
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      const std::string pad(widths[c] - rows[r][c].size(), ' ');
      out << ' ' << (c == 0 ? rows[r][c] + pad : pad + rows[r][c]) << " |";
    }
    out << '\n';
    if (r == 0) {
      out << '|';
      for (std::size_t c = 0; c < widths.size(); ++c) {
        const std::string dashes(widths[c] + 1, '-');
        out << (c == 0 ? ":" + dashes + "|" : dashes + ":|");
      }
      out << '\n';
    }
  }
}

std::string hitRateCell(const CapacityCurveTable& table, std::size_t e,
                        std::size_t b) {
  return percent(table.hitsAt(e, b), table.lookups);
}

std::string hitsCell(const CapacityCurveTable& table, std::size_t e,
                     std::size_t b) {
  return std::to_string(table.hitsAt(e, b));
}

// gnuplot's single-quoted string: a quote inside is doubled.
std::string gnuplotQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

}  // namespace

CapacityGrid capacityGrid(std::size_t markedEntries,
                          std::uint64_t markedBytes) {
  CapacityGrid grid;
  for (std::size_t entries = 128; entries <= 65536; entries *= 2) {
    grid.entryLimits.push_back(entries);
  }
  for (std::uint64_t mib = 1; mib <= 256; mib *= 2) {
    grid.byteBudgets.push_back(mib * kMiB);
  }
  insertSorted(grid.entryLimits, markedEntries);
  insertSorted(grid.byteBudgets, markedBytes);
  grid.markedEntries = markedEntries;
  grid.markedBytes = markedBytes;
  return grid;
}

CapacityCurveTable recordCapacityCurve(const std::vector<Document>& documents,
                                       const std::vector<Frame>& frames,
                                       const LayoutOptions& options,
                                       std::size_t passes,
                                       const CapacityGrid& grid) {
  CapacityCurve curve(grid.byteBudgets);
  LayoutOptions frameOptions = options;
  MeasurementCacheKey key;  // rebuilt for each block, buffers reused
  for (std::size_t pass = 0; pass < passes; ++pass) {
    for (const Frame& frame : frames) {
      frameOptions.maxWidth = frame.width;
      const std::vector<Block>& blocks = documents[frame.document].blocks;
      for (std::size_t b = frame.firstBlock; b < frame.endBlock; ++b) {
        fillLayoutKey(blocks[b], frameOptions, key);
        curve.recordLookup(key);
      }
    }
  }
  CapacityCurveTable table;
  table.grid = grid;
  table.lookups = curve.lookups();
  table.distinctKeys = curve.distinctKeys();
  table.hits.reserve(grid.entryLimits.size() * grid.byteBudgets.size());
  for (const std::size_t entries : grid.entryLimits) {
    for (const std::uint64_t bytes : grid.byteBudgets) {
      table.hits.push_back(curve.hits(entries, bytes));
    }
  }
  return table;
}

void printCapacityCurve(std::ostream& out, const CapacityCurveTable& table) {
  const CapacityGrid& grid = table.grid;
  out << "Capacity curve: " << table.lookups << " lookups of "
      << table.distinctKeys
      << " distinct keys, answered as an LRU cache of each size would have "
         "answered them (each hit is a measurement saved); * marks "
      << grid.markedEntries << " entries, " << sizeName(grid.markedBytes)
      << ".\n\nHit rate:\n\n";
  printGrid(out, table, "entries", hitRateCell);
  out << "\nMeasurements saved (hits):\n\n";
  printGrid(out, table, "entries", hitsCell);
}

void printCapacityCurveTsv(std::ostream& out, const CapacityCurveTable& table) {
  out << "entries\tbytes\tlookups\thits\n";
  const CapacityGrid& grid = table.grid;
  for (std::size_t e = 0; e < grid.entryLimits.size(); ++e) {
    for (std::size_t b = 0; b < grid.byteBudgets.size(); ++b) {
      out << grid.entryLimits[e] << '\t' << grid.byteBudgets[b] << '\t'
          << table.lookups << '\t' << table.hitsAt(e, b) << '\n';
    }
  }
}

std::string capacityCurveGnuplotScript(const CapacityCurveTable& table,
                                       const std::string& svgPath) {
  const CapacityGrid& grid = table.grid;
  const auto rate = [&](std::size_t e, std::size_t b) {
    return table.lookups == 0
               ? 0.0
               : 100.0 * static_cast<double>(table.hitsAt(e, b)) /
                     static_cast<double>(table.lookups);
  };
  std::ostringstream script;
  script << "set terminal svg size 960,600 dynamic font 'DejaVu Sans,13' "
            "background rgb 'white'\n"
         << "set output " << gnuplotQuoted(svgPath) << '\n'
         << "set title 'Hit rate of the session by cache size ("
         << table.lookups << " lookups)'\n"
         << "set xlabel 'entry limit'\nset ylabel 'hit rate (%)'\n"
         << "set logscale x 2\nset xtics (";
  for (std::size_t e = 0; e < grid.entryLimits.size(); ++e) {
    script << (e > 0 ? ", " : "") << grid.entryLimits[e];
  }
  script << ")\n"
         << "set xrange [" << grid.entryLimits.front() / 2 << ":"
         << grid.entryLimits.back() * 2 << "]\n"
         << "set yrange [0:100]\nset grid\n"
         << "set key outside right top title 'byte budget'\n";
  // One data block per byte budget, then the marked point.
  script << "$curve << EOD\n";
  for (std::size_t b = 0; b < grid.byteBudgets.size(); ++b) {
    for (std::size_t e = 0; e < grid.entryLimits.size(); ++e) {
      script << grid.entryLimits[e] << ' ' << rate(e, b) << '\n';
    }
    script << "\n\n";
  }
  script << "EOD\n$marked << EOD\n";
  for (std::size_t e = 0; e < grid.entryLimits.size(); ++e) {
    for (std::size_t b = 0; b < grid.byteBudgets.size(); ++b) {
      if (grid.entryLimits[e] == grid.markedEntries &&
          grid.byteBudgets[b] == grid.markedBytes) {
        script << grid.entryLimits[e] << ' ' << rate(e, b) << '\n';
      }
    }
  }
  script << "EOD\nplot ";
  for (std::size_t b = 0; b < grid.byteBudgets.size(); ++b) {
    script << "$curve index " << b << " with linespoints pt 7 ps 0.6 title "
           << gnuplotQuoted(sizeName(grid.byteBudgets[b])) << ", ";
  }
  script << "$marked with points pt 6 ps 2.5 lc rgb 'black' title "
         << gnuplotQuoted(std::to_string(grid.markedEntries) + " entries, " +
                          sizeName(grid.markedBytes))
         << '\n';
  return script.str();
}

std::string findProgram(std::string_view name, std::string_view searchPath) {
  for (;;) {
    const std::size_t colon = searchPath.find(':');
    const std::string_view directory = searchPath.substr(0, colon);
    const std::filesystem::path candidate =
        std::filesystem::path(directory.empty() ? "." : directory) / name;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
    if (colon == std::string_view::npos) return {};
    searchPath.remove_prefix(colon + 1);
  }
}

std::string runGnuplot(const std::string& gnuplot, const std::string& script) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path();
  std::string scriptPath =
      (directory / "markdown_layout-curve-XXXXXX.gp").string();
  const int fd = ::mkstemps(scriptPath.data(), 3);
  if (fd < 0) {
    return "cannot create a temporary file for gnuplot in " +
           directory.string() + ": " + std::generic_category().message(errno);
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(fd, "w"),
                                                             &std::fclose);
  const auto removeScript = [&] { std::filesystem::remove(scriptPath); };
  if (!file ||
      std::fwrite(script.data(), 1, script.size(), file.get()) !=
          script.size() ||
      std::fflush(file.get()) != 0) {
    if (!file) ::close(fd);
    removeScript();
    return "cannot write gnuplot's script to " + scriptPath;
  }
  std::array<char*, 3> argv{const_cast<char*>(gnuplot.c_str()),
                            scriptPath.data(), nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, gnuplot.c_str(), nullptr, nullptr,
                                    argv.data(), environ);
  if (spawned != 0) {
    removeScript();
    return "cannot run " + gnuplot + ": " +
           std::generic_category().message(spawned);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  removeScript();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return gnuplot + " failed drawing the capacity curve (status " +
           std::to_string(status) + ")";
  }
  return {};
}

int runCapacityCurve(const CommandLine& line,
                     const std::vector<Document>& documents,
                     const std::vector<Frame>& frames,
                     const LayoutOptions& options, std::ostream& out,
                     std::ostream& err, const char* searchPath) {
  const CapacityCurveTable table = recordCapacityCurve(
      documents, frames, options, line.passes,
      capacityGrid(line.cacheLimits.maxEntries, line.cacheLimits.byteBudget));
  if (line.tsv) {
    printCapacityCurveTsv(out, table);
  } else {
    printCapacityCurve(out, table);
  }
  out.flush();
  if (line.capacityCurveSvg.empty()) return 0;  // no picture asked for
  if (searchPath == nullptr) {
    // The program never changes its environment, so reading it is safe.
    searchPath = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe)
  }
  const std::string gnuplot =
      findProgram("gnuplot", searchPath != nullptr ? searchPath : "");
  if (gnuplot.empty()) {
    err << "markdown_layout: gnuplot not found on PATH: the capacity curve is "
           "not drawn (the gnuplot-nox package provides it)\n";
    return 0;
  }
  const std::string problem = runGnuplot(
      gnuplot, capacityCurveGnuplotScript(table, line.capacityCurveSvg));
  if (!problem.empty()) {
    err << "markdown_layout: " << problem << '\n';
    return 1;
  }
  (line.tsv ? err : out) << (line.tsv ? "markdown_layout: " : "\n")
                         << "the capacity curve is drawn in "
                         << line.capacityCurveSvg << '\n';
  return 0;
}

}  // namespace morvane::vesk::markdown_layout
