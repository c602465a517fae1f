#include "bench/document_benchmark.h"

#include <cstdio>

namespace morvane::vesk {

std::string formatReportLine(const char* label, const BenchmarkReport& report) {
  static constexpr const char* kFormat =
      "{\"label\":\"%s\",\"entries\":%zu,\"peakAccountedBytes\":%zu,"
      "\"elapsedMs\":%.6f,\"keyStructBytes\":%zu,\"entryStructBytes\":%zu}\n";
  const auto print = [&](char* buffer, std::size_t size) {
    return std::snprintf(buffer, size, kFormat, label,
                         static_cast<std::size_t>(report.entries),
                         static_cast<std::size_t>(report.peakAccountedBytes),
                         report.elapsedMs, report.keyStructBytes,
                         report.entryStructBytes);
  };
  std::string line(static_cast<std::size_t>(print(nullptr, 0)), '\0');
  print(line.data(), line.size() + 1);
  return line;
}

}  // namespace morvane::vesk
