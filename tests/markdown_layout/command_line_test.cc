#include "examples/markdown_layout/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

CommandLine parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "markdown_layout");
  return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, TakesTheEdgesOfEachRange) {
  const CommandLine line =
      parse({"--threads", "1,256", "--passes", "256", "--max-file-size", "1G",
             "--max-inflated-size", "3k", "--max-table-columns", "65535", "a",
             "--max-markup", "1048576", "--verify", "--", "--b"});
  EXPECT_EQ(line.threads, (std::vector<std::size_t>{1, 256}));
  EXPECT_EQ(line.passes, 256U);
  EXPECT_EQ(line.limits.maxFileBytes, std::uint64_t{1} << 30);
  EXPECT_EQ(line.limits.maxInflatedBytes, 3U * 1024);
  EXPECT_EQ(line.limits.maxTableColumns, 65535U);
  EXPECT_EQ(line.limits.maxMarkup, 1048576U);
  EXPECT_TRUE(line.verify);
  EXPECT_EQ(line.paths, (std::vector<std::string>{"a", "--b"}));

  const CommandLine defaults = parse({});
  EXPECT_EQ(defaults.threads, (std::vector<std::size_t>{1}));
  EXPECT_EQ(defaults.limits.maxFileBytes, std::uint64_t{16} << 20);
  EXPECT_EQ(defaults.limits.maxInflatedBytes, std::uint64_t{16} << 20);
  EXPECT_EQ(defaults.limits.maxTableColumns, 256U);
  EXPECT_EQ(defaults.limits.maxMarkup, 65536U);
  EXPECT_EQ(parse({"--max-markup", "8"}).limits.maxMarkup, 8U);
  EXPECT_EQ(parse({"--max-file-size", "12345"}).limits.maxFileBytes, 12345U);
  EXPECT_EQ(parse({"--max-file-size", "2M"}).limits.maxFileBytes, 2U << 20);
}

// The cache's size, the capacity curve and its outputs.
TEST(CommandLine, TakesTheCacheSizeAndTheCapacityCurve) {
  struct Case {
    std::vector<const char*> arguments;
    std::size_t entries;
    std::uint64_t bytes;
  };
  const std::vector<Case> cases{
      {{}, 512, std::uint64_t{8} << 20},
      {{"--entries", "1", "--bytes", "560"}, 1, 560},
      {{"--entries", "16777216", "--bytes", "64G"},
       16777216,
       std::uint64_t{64} << 30},
      {{"--bytes", "64M"}, 512, std::uint64_t{64} << 20},
      {{"--bytes", "64MiB"}, 512, std::uint64_t{64} << 20},
      {{"--bytes", "3KiB"}, 512, std::uint64_t{3} * 1024},
      {{"--bytes", "2GiB"}, 512, std::uint64_t{2} << 30},
  };
  for (const Case& c : cases) {
    const CommandLine line = parse(c.arguments);
    EXPECT_EQ(line.cacheLimits.maxEntries, c.entries);
    EXPECT_EQ(line.cacheLimits.byteBudget, c.bytes);
    EXPECT_FALSE(line.capacityCurve);
  }
  EXPECT_EQ(parse({"--max-file-size", "1GiB"}).limits.maxFileBytes,
            std::uint64_t{1} << 30);

  const CommandLine curve = parse({"--capacity-curve"});
  EXPECT_TRUE(curve.capacityCurve);
  EXPECT_FALSE(curve.tsv);
  EXPECT_EQ(curve.capacityCurveSvg, "") << "no picture unless asked for";
  const CommandLine tsv =
      parse({"--tsv", "--capacity-curve-svg", "out/c.svg", "--capacity-curve"});
  EXPECT_TRUE(tsv.capacityCurve);
  EXPECT_TRUE(tsv.tsv);
  EXPECT_EQ(tsv.capacityCurveSvg, "out/c.svg");
}

TEST(CommandLine, RefusesWhatIsOutOfRangeNamingTheArgument) {
  const std::vector<std::vector<const char*>> bad{
      {"--threads", "0"},
      {"--threads", "257"},
      {"--threads", "2,"},
      {"--threads", "1,x"},
      {"--passes", "257"},
      {"--passes"},
      {"--max-file-size", "0"},
      {"--max-file-size", "2G"},
      {"--max-file-size", "1025M"},
      {"--max-file-size", "M"},
      {"--max-file-size", "-1"},
      {"--max-inflated-size", "18446744073709551615k"},
      {"--max-table-columns", "65536"},
      {"--max-table-columns", "1k"},
      {"--max-markup", "7"},
      {"--max-markup", "1048577"},
      {"--max-markup", "64k"},
      // 17179869185 GiB is 2^64 + 1 GiB: it must not wrap around to 1G.
      {"--bytes", "17179869185G"},
      {"--fast"},
      {"--entries", "0"},
      {"--entries", "16777217"},
      {"--entries", "1k"},
      {"--entries"},
      {"--bytes", "559"},
      {"--bytes", "65G"},
      {"--bytes", "64iB"},
      {"--bytes", "8MB"},
      {"--bytes", "MiB"},
      {"--max-file-size", "2GiB"},
      // Refused for the path itself: --capacity-curve comes after it.
      {"--capacity-curve-svg", "", "--capacity-curve"},
      {"--capacity-curve-svg", "a\nb.svg", "--capacity-curve"},
      {"--tsv"},
      {"--capacity-curve-svg", "x.svg"},
      {"--capacity-curve", "--blocks"},
      // Options the mode would ignore.
      {"--threads", "2", "--capacity-curve"},
      {"--verify", "--passes", "2", "--capacity-curve"},
      {"--threads", "1", "--blocks"},
      {"--verify", "--blocks"},
      {"--passes", "2", "--blocks"},
      {"--entries", "64", "--blocks"},
      {"--bytes", "1M", "--blocks"},
  };
  for (const auto& arguments : bad) {
    std::string text;
    for (const char* argument : arguments) text += std::string(argument) + " ";
    SCOPED_TRACE(text);
    try {
      (void)parse(arguments);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& error) {
      EXPECT_NE(std::string(error.what()).find(arguments.front()),
                std::string::npos)
          << error.what();
    }
  }
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
