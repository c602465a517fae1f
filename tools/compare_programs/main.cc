// compare_programs BASELINE CHECK: runs cache_baseline and cache_check, prints
// everything each printed, exactly as it printed it (cache_check's PASS line
// and both report lines), then a table of what the byte budget changed, with
// each program's peak resident memory as the kernel measured it. Exits 1 if
// either program fails.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "tools/program_run.h"

namespace {

using morvane::vesk::ProgramRun;

// The line of `output` that holds `"label":"<label>"`, without its newline.
std::optional<std::string> reportLine(const std::string& output,
                                      std::string_view label) {
  const std::string marker = R"({"label":")" + std::string(label) + "\"";
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string_view line(output.data() + start, end - start);
    if (line.starts_with(marker)) return std::string(line);
    start = end + 1;
  }
  return std::nullopt;
}

// The number after `"key":` in a report line.
std::optional<double> numberField(const std::string& line,
                                  std::string_view key) {
  const std::string marker = "\"" + std::string(key) + "\":";
  const std::size_t at = line.find(marker);
  if (at == std::string::npos) return std::nullopt;
  const char* begin = line.c_str() + at + marker.size();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  return value;
}

bool succeeded(const char* name, const ProgramRun& run) {
  if (run.exitStatus == 0 && run.standardError.empty()) return true;
  std::fprintf(stderr, "%s failed (exit status %d, signal %d):\n%s", name,
               run.exitStatus, run.signal, run.standardError.c_str());
  return false;
}

void printRow(const char* measure, double before, double after,
              const char* format) {
  std::printf("| %-22s | ", measure);
  std::printf(format, before);
  std::printf(" | ");
  std::printf(format, after);
  if (before != 0) {
    std::printf(" | %12.4f |\n", after / before);
  } else {
    std::printf(" | %12s |\n", "-");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CACHE_BASELINE CACHE_CHECK\n", argv[0]);
    return 2;
  }
  try {
    const ProgramRun before = morvane::vesk::runProgram(argv[1]);
    const ProgramRun after = morvane::vesk::runProgram(argv[2]);
    std::fputs(before.standardOutput.c_str(), stdout);
    std::fputs(after.standardOutput.c_str(), stdout);
    std::fflush(stdout);
    if (!succeeded("cache_baseline", before) ||
        !succeeded("cache_check", after)) {
      return 1;
    }
    const auto beforeLine = reportLine(before.standardOutput, "before");
    const auto afterLine = reportLine(after.standardOutput, "after");
    if (!beforeLine || !afterLine) {
      std::fprintf(stderr, "a report line is missing\n");
      return 1;
    }
    std::fputs("\n", stdout);
    std::printf("| %-22s | %14s | %14s | %12s |\n", "measure", "before",
                "after", "after/before");
    std::printf("|%s|%s|%s|%s|\n", std::string(24, '-').c_str(),
                std::string(16, '-').c_str(), std::string(16, '-').c_str(),
                std::string(14, '-').c_str());
    for (const char* key : {"entries", "peakAccountedBytes", "elapsedMs"}) {
      const auto b = numberField(*beforeLine, key);
      const auto a = numberField(*afterLine, key);
      if (!b || !a) {
        std::fprintf(stderr, "a report line has no %s\n", key);
        return 1;
      }
      printRow(key, *b, *a,
               std::string_view(key) == "elapsedMs" ? "%14.3f" : "%14.0f");
    }
    printRow("peak resident KiB", static_cast<double>(before.peakResidentKiB),
             static_cast<double>(after.peakResidentKiB), "%14.0f");
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
