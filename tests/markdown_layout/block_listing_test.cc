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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/markdown_layout/temporary_directory.h"
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

// The listing's escapes undone: "\\", "\t", "\n", "\r" and "\xHH".
std::string unescape(const std::string& field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      text += field[i];
      continue;
    }
    const char code = field[++i];
    if (code == 'x' && i + 2 < field.size()) {
      text += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      text += code == 't'   ? '\t'
              : code == 'n' ? '\n'
              : code == 'r' ? '\r'
                            : code;
    }
  }
  return text;
}

// Names with a tab, line ends, an escape or delete character or a backslash
// still give one line of five fields per block, and each name reads back
// exactly.
TEST(BlockListing, EscapesDocumentNamesSoEveryBlockKeepsOneLine) {
  const testing::TemporaryDirectory dir;
  const std::vector<std::string> names{
      "tab\there.md",      "line\nfeed.md",  "carriage\rreturn.md",
      "escape\x1b[31m.md", "back\\slash.md", "delete\x7f.md",
      "plain.md"};
  std::set<std::string> paths;
  for (const std::string& name : names) {
    paths.insert(dir.write("docs/" + name, "# Title\n\nA paragraph.\n"));
  }
  const ProgramRun run =
      runProgram(VESK_MARKDOWN_LAYOUT_PATH, {"--blocks", dir.path("docs")});
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  const std::vector<std::string> output = lines(run.standardOutput);
  ASSERT_EQ(output.size(), 1 + 2 * names.size()) << run.standardOutput;
  std::set<std::string> listed;
  for (std::size_t i = 1; i < output.size(); ++i) {
    const std::string& line = output[i];
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
    EXPECT_EQ(line.find_first_of("\r\x1b\x7f"), std::string::npos) << line;
    listed.insert(unescape(line.substr(0, line.find('\t'))));
  }
  EXPECT_EQ(listed, paths);
}

}  // namespace
}  // namespace morvane::vesk
