#include "examples/markdown_layout/block_extraction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

struct Expected {
  std::string source;
  int firstLine;
  int headingLevel;
  bool tableRow;
  bool tableHeaderRow;
  int tableColumns;
};

TEST(BlockExtraction, SplitsListsIntoItemsAndTablesIntoRows) {
  const std::string document =
      "# Title\n"                     // 1
      "\n"                            // 2
      "Some *text*\n"                 // 3
      "over two lines.\n"             // 4
      "\n"                            // 5
      "- one\n"                       // 6
      "- two\n"                       // 7
      "  continued\n"                 // 8
      "\n"                            // 9
      "> quoted\n"                    // 10
      "> - nested item\n"             // 11
      "\n"                            // 12
      "```sh\n"                       // 13
      "ls -l\n"                       // 14
      "```\n"                         // 15
      "[ref]: https://example.org\n"  // 16
      "\n"                            // 17
      "| a | b | c |\n"               // 18
      "|---|---|---|\n"               // 19
      "| 1 | 2 |\n"                   // 20
      "\n"                            // 21
      "Setext\n"                      // 22
      "======\n";                     // 23
  const std::vector<Expected> expected{
      {"# Title", 1, 1, false, false, 0},
      {"Some *text*\nover two lines.", 3, 0, false, false, 0},
      {"- one", 6, 0, false, false, 0},
      {"- two\n  continued", 7, 0, false, false, 0},
      {"> quoted\n> - nested item", 10, 0, false, false, 0},
      {"```sh\nls -l\n```", 13, 0, false, false, 0},
      {"| a | b | c |", 18, 0, true, true, 3},
      {"| 1 | 2 |", 20, 0, true, false, 3},
      {"Setext\n======", 22, 1, false, false, 0},
  };
  const std::vector<Block> blocks = extractBlocks(document);
  ASSERT_EQ(blocks.size(), expected.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    EXPECT_EQ(blocks[i].source, expected[i].source);
    EXPECT_EQ(blocks[i].firstLine, expected[i].firstLine);
    EXPECT_EQ(blocks[i].headingLevel, expected[i].headingLevel);
    EXPECT_EQ(blocks[i].tableRow, expected[i].tableRow);
    EXPECT_EQ(blocks[i].tableHeaderRow, expected[i].tableHeaderRow);
    EXPECT_EQ(blocks[i].tableColumns, expected[i].tableColumns);
  }
}

TEST(BlockExtraction, EmptyAndBlankDocumentsHaveNoBlocks) {
  EXPECT_TRUE(extractBlocks("").empty());
  EXPECT_TRUE(extractBlocks("\n\n   \n").empty());
}

TEST(BlockExtraction, KeepsInvalidUtf8BytesInTheSource) {
  const std::vector<Block> blocks = extractBlocks("a\xff\xfe b\n\nc\n");
  ASSERT_EQ(blocks.size(), 2U);
  EXPECT_EQ(blocks[0].source, "a\xff\xfe b");
  EXPECT_EQ(blocks[1].source, "c");
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
