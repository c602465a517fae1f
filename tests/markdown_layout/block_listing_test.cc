// `markdown_layout --blocks` over the committed documents in golden/, the
// cases where blocks were once cut wrongly, compared with the committed
// listing golden/expected_blocks.tsv, on the installed DejaVu fonts
// (fonts-dejavu-core). After a deliberate change of layout, regenerate it
// from the repository's root with
//
//   build/dev/examples/markdown_layout/markdown_layout --blocks
//     tests/markdown_layout/golden | sed 's|^tests/markdown_layout/golden/||'
//     > tests/markdown_layout/golden/expected_blocks.tsv
//
// (one command line)
// and read the difference before committing it.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/program_run.h"

namespace morvane::vesk {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

TEST(BlockListing, MatchesTheCommittedListing) {
  const std::string directory = VESK_GOLDEN_DIRECTORY;
  const ProgramRun run =
      runProgram(VESK_MARKDOWN_LAYOUT_PATH, {"--blocks", directory});
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;

  std::string output = run.standardOutput;
  const std::string prefix = directory + "/";
  for (std::size_t at = output.find(prefix); at != std::string::npos;
       at = output.find(prefix, at)) {
    output.erase(at, prefix.size());
  }
  std::ifstream file(directory + "/expected_blocks.tsv", std::ios::binary);
  ASSERT_TRUE(file) << "cannot read the expected listing";
  std::stringstream expected;
  expected << file.rdbuf();

  const std::vector<std::string> got = lines(output);
  const std::vector<std::string> want = lines(expected.str());
  for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    EXPECT_EQ(i < got.size() ? got[i] : "(none)",
              i < want.size() ? want[i] : "(none)")
        << "line " << i + 1;
  }
}

TEST(BlockListing, EveryLineHasFiveFields) {
  const ProgramRun run = runProgram(VESK_MARKDOWN_LAYOUT_PATH,
                                    {"--blocks", VESK_GOLDEN_DIRECTORY});
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  const std::vector<std::string> output = lines(run.standardOutput);
  ASSERT_GT(output.size(), 1U);
  EXPECT_EQ(output[0], "document\tlines\tkind\twidth\theight");
  for (const std::string& line : output) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
  }
  // Nothing is replayed: no report follows the listing.
  EXPECT_EQ(run.standardOutput.find("Whole session"), std::string::npos);
}

}  // namespace
}  // namespace morvane::vesk
