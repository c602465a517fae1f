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
             "--verify", "--", "--b"});
  EXPECT_EQ(line.threads, (std::vector<std::size_t>{1, 256}));
  EXPECT_EQ(line.passes, 256U);
  EXPECT_EQ(line.limits.maxFileBytes, std::uint64_t{1} << 30);
  EXPECT_EQ(line.limits.maxInflatedBytes, 3U * 1024);
  EXPECT_EQ(line.limits.maxTableColumns, 65535U);
  EXPECT_TRUE(line.verify);
  EXPECT_EQ(line.paths, (std::vector<std::string>{"a", "--b"}));

  const CommandLine defaults = parse({});
  EXPECT_EQ(defaults.threads, (std::vector<std::size_t>{1}));
  EXPECT_EQ(defaults.limits.maxFileBytes, std::uint64_t{16} << 20);
  EXPECT_EQ(defaults.limits.maxInflatedBytes, std::uint64_t{16} << 20);
  EXPECT_EQ(defaults.limits.maxTableColumns, 256U);
  EXPECT_EQ(parse({"--max-file-size", "12345"}).limits.maxFileBytes, 12345U);
  EXPECT_EQ(parse({"--max-file-size", "2M"}).limits.maxFileBytes, 2U << 20);
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
      {"--fast"},
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
