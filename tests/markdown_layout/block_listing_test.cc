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
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "examples/markdown_layout/document_loading.h"
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

// Thirty of the default documents (docker-doc's, which
// ./scripts/install-deps.sh installs) listed to the hundredth of a pixel, so
// that any change in how real documents are cut, shaped or broken into
// lines shows. golden/default_documents_blocks.tsv names each file with the
// CRC-32 and size it had; where one is missing or differs (docker-doc not
// installed, or another version of it) the test is skipped, saying why.
// After a deliberate change of layout, regenerate the listing (keeping the
// "#" lines) with
//
//   build/dev/examples/markdown_layout/markdown_layout --blocks $(sed -n
//     's|^# [0-9a-f]\{8\} [0-9]* |/usr/share/doc/docker-doc/|p'
//     tests/markdown_layout/golden/default_documents_blocks.tsv)
//     | sed 's|/usr/share/doc/docker-doc/||'
TEST(BlockListing, MatchesTheCommittedListingOfDefaultDocuments) {
  const std::string directory =
      std::string(markdown_layout::kDefaultDocumentDirectory) + "/";
  std::ifstream file(
      std::string(VESK_GOLDEN_DIRECTORY) + "/default_documents_blocks.tsv",
      std::ios::binary);
  ASSERT_TRUE(file) << "cannot read the expected listing";
  std::vector<std::string> arguments{"--blocks"};
  std::vector<std::string> want;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.starts_with("#")) {
      want.push_back(line);
      continue;
    }
    std::istringstream fields(line.substr(1));
    std::string crc;
    std::size_t size = 0;
    std::string name;
    if (!(fields >> crc >> size >> name) || crc.size() != 8) continue;
    std::ifstream document(directory + name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(document)),
                            std::istreambuf_iterator<char>());
    std::array<char, 9> actual{};
    std::snprintf(actual.data(), actual.size(), "%08lx",
                  ::crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()),
                          static_cast<uInt>(bytes.size())));
    if (!document || bytes.size() != size || crc != actual.data()) {
      GTEST_SKIP() << directory << name
                   << " is missing or not the file the listing was made "
                      "from (./scripts/install-deps.sh installs docker-doc)";
    }
    arguments.push_back(directory + name);
  }
  ASSERT_EQ(arguments.size(), 31U);
  const ProgramRun run = runProgram(VESK_MARKDOWN_LAYOUT_PATH, arguments);
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  std::string output = run.standardOutput;
  for (std::size_t at = output.find(directory); at != std::string::npos;
       at = output.find(directory, at)) {
    output.erase(at, directory.size());
  }
  const std::vector<std::string> got = lines(output);
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
