#include <cctype>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "tools/program_run.h"

namespace morvane::vesk {
namespace {

// Whether `text` is exactly the report line of `label` with the given counts,
// the reference record sizes and an elapsedMs with exactly six decimals.
::testing::AssertionResult isReportLine(std::string_view text,
                                        const std::string& label,
                                        const std::string& entries,
                                        const std::string& peak) {
  const std::string head = R"({"label":")" + label + R"(","entries":)" +
                           entries + R"(,"peakAccountedBytes":)" + peak +
                           R"(,"elapsedMs":)";
  const std::string tail =
      ",\"keyStructBytes\":272,\"entryStructBytes\":288}\n";
  if (!text.starts_with(head) || !text.ends_with(tail) ||
      text.size() < head.size() + tail.size()) {
    return ::testing::AssertionFailure() << "not the expected line: " << text;
  }
  const std::string_view elapsed =
      text.substr(head.size(), text.size() - head.size() - tail.size());
  const std::size_t point = elapsed.find('.');
  const auto digits = [](std::string_view part) {
    if (part.empty()) return false;
    for (char c : part) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
  };
  if (point == std::string_view::npos || !digits(elapsed.substr(0, point)) ||
      elapsed.size() - point - 1 != 6 || !digits(elapsed.substr(point + 1))) {
    return ::testing::AssertionFailure() << "elapsedMs is " << elapsed;
  }
  return ::testing::AssertionSuccess();
}

TEST(CacheCheckProgram, PassesThenPrintsTheAfterReport) {
  const ProgramRun run = runProgram(VESK_CACHE_CHECK_PATH);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.standardError, "");
  const std::string passLine =
      "PASS cache: 8 MiB byte eviction, oversized keys, updates/removal, "
      "512-entry LRU\n";
  ASSERT_TRUE(run.standardOutput.starts_with(passLine)) << run.standardOutput;
  EXPECT_TRUE(isReportLine(
      std::string_view(run.standardOutput).substr(passLine.size()), "after",
      "8", "8388288"));
}

TEST(CacheBaselineProgram, PrintsOnlyTheBeforeReport) {
  const ProgramRun run = runProgram(VESK_CACHE_BASELINE_PATH);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.standardError, "");
  EXPECT_TRUE(
      isReportLine(run.standardOutput, "before", "512", "269246464"));
}

}  // namespace
}  // namespace morvane::vesk
