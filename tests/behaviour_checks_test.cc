#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "programs/cache_check/cache_check_program.h"
#include "tests/faulty_measurement_cache.h"

namespace morvane::vesk {
namespace {

// Runs the whole cache_check program over a cache built with `fault`, with
// standard output sent to standard error, so that the death test sees both
// streams and can tell that nothing reached standard output before the FAIL.
void runProgramOver(CacheFault fault,
                    std::string MeasurementCacheKey::*uncharged =
                        &MeasurementCacheKey::string1) {
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  FaultyMeasurementCache cache(fault, uncharged);
  // The death-test child runs on one thread.
  std::exit(runCacheCheck(cache));  // NOLINT(concurrency-mt-unsafe)
}

std::string onlyFailLine(const std::string& message) {
  return "^FAIL " + message + "\n$";
}

TEST(BehaviourChecksDeathTest, ACorrectCachePassesAndIsBenchmarked) {
  EXPECT_EXIT(runProgramOver(CacheFault::kNone), ::testing::ExitedWithCode(0),
              "^PASS cache: 8 MiB byte eviction, oversized keys, "
              "updates/removal, 512-entry LRU\n"
              "\\{\"label\":\"after\",\"entries\":8,"
              "\"peakAccountedBytes\":8388288,\"elapsedMs\":[0-9]+\\.[0-9]{6},"
              "\"keyStructBytes\":272,\"entryStructBytes\":288\\}\n$");
}

struct FaultCase {
  const char* name;
  CacheFault fault;
  const char* message;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FaultCase& faultCase, std::ostream* out) {
  *out << faultCase.name;
}

class CaughtFaultDeathTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CaughtFaultDeathTest, StopsAtTheFirstViolatedExpectation) {
  EXPECT_EXIT(runProgramOver(GetParam().fault), ::testing::ExitedWithCode(1),
              onlyFailLine(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    BehaviourChecks, CaughtFaultDeathTest,
    ::testing::Values(
        FaultCase{"GetDoesNotRefresh", CacheFault::kGetDoesNotRefresh,
                  "byte overflow must evict the least recently used key"},
        FaultCase{"ChargesOneCopy", CacheFault::kChargesOneCopy,
                  "byte overflow must evict the least recently used key"},
        FaultCase{"RefusesAChargeEqualToTheBudget",
                  CacheFault::kRefusesAChargeEqualToTheBudget,
                  "a key at the 8 MiB budget must fit"},
        FaultCase{"EvictsBeforeRefusingAnOversizedKey",
                  CacheFault::kEvictsBeforeRefusingAnOversizedKey,
                  "oversized keys must preserve useful measurements"},
        FaultCase{"UpdateKeepsTheOldValue", CacheFault::kUpdateKeepsTheOldValue,
                  "updates and removals must release or reuse capacity "
                  "without spurious eviction"},
        FaultCase{"RemovalKeepsTheBytes", CacheFault::kRemovalKeepsTheBytes,
                  "removed capacity must be reusable"},
        FaultCase{"Holds511Entries", CacheFault::kHolds511Entries,
                  "the entry limit must still allow 512 small documents"},
        FaultCase{"Holds513Entries", CacheFault::kHolds513Entries,
                  "entry overflow must evict the least recently used document"},
        FaultCase{"FindMissesTheLeastRecentlyUsed",
                  CacheFault::kFindMissesTheLeastRecentlyUsed,
                  "a hit must remain available before budget eviction"},
        FaultCase{"EvictsEverythingWhenOverBudget",
                  CacheFault::kEvictsEverythingWhenOverBudget,
                  "byte eviction must retain the other measurements"},
        FaultCase{"RemovalLeavesTheEntry", CacheFault::kRemovalLeavesTheEntry,
                  "removed measurements must stay absent"},
        FaultCase{"RefusalForgetsTheRecordBytes",
                  CacheFault::kRefusalForgetsTheRecordBytes,
                  "a key above the 8 MiB budget must bypass storage"},
        FaultCase{"RefusesOnlyAfterEvicting",
                  CacheFault::kRefusesOnlyAfterEvicting,
                  "a rejected boundary key must not evict the cached key"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BehaviourChecksDeathTest, CatchesEachStringLeftOutOfTheCharge) {
  for (std::string MeasurementCacheKey::*field :
       {&MeasurementCacheKey::string1, &MeasurementCacheKey::string2,
        &MeasurementCacheKey::string3, &MeasurementCacheKey::string4,
        &MeasurementCacheKey::string5}) {
    EXPECT_EXIT(
        runProgramOver(CacheFault::kLeavesAStringOutOfTheCharge, field),
        ::testing::ExitedWithCode(1),
        onlyFailLine(
            "8 MiB includes both copies of every string and key structs"));
  }
}

}  // namespace
}  // namespace morvane::vesk
