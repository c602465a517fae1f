#include "examples/markdown_layout/block_extraction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

struct Expected {
  std::string source;
  int firstLine;
  int lastLine;
  BlockKind kind;
  int tableColumns = 0;
  std::string definitions = "";
};

void expectBlocks(const std::string& document,
                  const std::vector<Expected>& expected) {
  const std::vector<Block> blocks = extractBlocks(document);
  ASSERT_EQ(blocks.size(), expected.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    EXPECT_EQ(blocks[i].source, expected[i].source);
    EXPECT_EQ(blocks[i].firstLine, expected[i].firstLine);
    EXPECT_EQ(blocks[i].lastLine, expected[i].lastLine);
    EXPECT_EQ(blockKindName(blocks[i].kind), blockKindName(expected[i].kind));
    const bool row = expected[i].kind == BlockKind::kTableRow ||
                     expected[i].kind == BlockKind::kTableHeaderRow;
    EXPECT_EQ(blocks[i].tableRow, row);
    EXPECT_EQ(blocks[i].tableHeaderRow,
              expected[i].kind == BlockKind::kTableHeaderRow);
    EXPECT_EQ(blocks[i].tableColumns, expected[i].tableColumns);
    EXPECT_EQ(blocks[i].definitions, expected[i].definitions);
  }
}

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
  using enum BlockKind;
  expectBlocks(document, {
                             {"# Title", 1, 1, kHeading},
                             {"Some *text*\nover two lines.", 3, 4, kParagraph},
                             {"- one", 6, 6, kListItem},
                             {"- two\n  continued", 7, 8, kListItem},
                             {"> quoted\n> - nested item", 10, 11, kQuote},
                             {"```sh\nls -l\n```", 13, 15, kCode},
                             {"| a | b | c |", 18, 18, kTableHeaderRow, 3},
                             {"| 1 | 2 |", 20, 20, kTableRow, 3},
                             {"Setext\n======", 22, 23, kHeading},
                         });
}

// Where the parser's own positions are off, or lines end otherwise than in
// "\n", each block still holds exactly its own lines.
struct LinesCase {
  const char* name;
  std::string document;
  std::vector<Expected> blocks;
};

void PrintTo(const LinesCase& c, std::ostream* out) { *out << c.name; }

class BlockLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(BlockLinesTest, EachBlockHoldsItsOwnLines) {
  expectBlocks(GetParam().document, GetParam().blocks);
}

using enum BlockKind;
INSTANTIATE_TEST_SUITE_P(
    Cases, BlockLinesTest,
    ::testing::Values(
        LinesCase{"BareCarriageReturn",
                  "one\rtwo\n\nthree\n\n# four\n",
                  {{"one\ntwo", 1, 2, kParagraph},
                   {"three", 4, 4, kParagraph},
                   {"# four", 6, 6, kHeading}}},
        LinesCase{"CarriageReturnLineEnds",
                  "# a\r\rb\rc\r\r- d\r- e\r",
                  {{"# a", 1, 1, kHeading},
                   {"b\nc", 3, 4, kParagraph},
                   {"- d", 6, 6, kListItem},
                   {"- e", 7, 7, kListItem}}},
        LinesCase{"CarriageReturnLineFeedLineEnds",
                  "a\r\nb\r\n\r\n```\r\nx\r\n```\r\n",
                  {{"a\nb", 1, 2, kParagraph}, {"```\nx\n```", 4, 6, kCode}}},
        LinesCase{"TableRightAfterAParagraph",
                  "# h\nfirst\nsecond\n| a | b |\n|---|---|\n| 1 | 2 |\n\nz\n",
                  {{"# h", 1, 1, kHeading},
                   {"first\nsecond", 2, 3, kParagraph},
                   {"| a | b |", 4, 4, kTableHeaderRow, 2},
                   {"| 1 | 2 |", 6, 6, kTableRow, 2},
                   {"z", 8, 8, kParagraph}}},
        LinesCase{
            "HeaderOnlyTableAfterAParagraph",
            "para\n| a |\n|---|\n",
            {{"para", 1, 1, kParagraph}, {"| a |", 2, 2, kTableHeaderRow, 1}}},
        LinesCase{"HtmlBlocksKeepTheirClosingLine",
                  "<!-- a\nb -->\nafter\n\n<script>\nx()\n</script>\n"
                  "<!-- one line -->\n",
                  {{"<!-- a\nb -->", 1, 2, kHtml},
                   {"after", 3, 3, kParagraph},
                   {"<script>\nx()\n</script>", 5, 7, kHtml},
                   {"<!-- one line -->", 8, 8, kHtml}}},
        LinesCase{"IndentedCodeEndsBeforeBlankLines",
                  "    a\n\n    b\n\n\nc\n",
                  {{"    a\n\n    b", 1, 3, kCode}, {"c", 6, 6, kParagraph}}},
        LinesCase{"UnclosedFenceKeepsItsBlankLines",
                  "x\n\n```\ncode\n\n\n",
                  {{"x", 1, 1, kParagraph}, {"```\ncode\n\n\n", 3, 6, kCode}}},
        LinesCase{"NestedListsAndQuotesAreOneBlock",
                  "- a\n  - b\n    > c\n\n  d\n\n\n> q\n> > r\n>\n\nafter\n",
                  {{"- a\n  - b\n    > c\n\n  d", 1, 5, kListItem},
                   {"> q\n> > r\n>", 8, 10, kQuote},
                   {"after", 12, 12, kParagraph}}},
        LinesCase{"SetextHeadingFollowedByText",
                  "Foo\n---\nbar\n",
                  {{"Foo\n---", 1, 2, kHeading}, {"bar", 3, 3, kParagraph}}},
        LinesCase{"DefinitionOpeningASetextHeading",
                  "[a]: /u\nFoo\n---\nbar\n",
                  {{"Foo\n---", 2, 3, kHeading}, {"bar", 4, 4, kParagraph}}},
        LinesCase{"QuotedFenceEndedByAnUnquotedLine",
                  "> ```\nfoo\n```\n",
                  {{"> ```", 1, 1, kQuote},
                   {"foo", 2, 2, kParagraph},
                   {"```", 3, 3, kCode}}},
        LinesCase{
            "FenceInAListItemEndedByAnUnindentedLine",
            "- ```\n  x\nafter\n",
            {{"- ```\n  x", 1, 2, kListItem}, {"after", 3, 3, kParagraph}}},
        LinesCase{"ItemFollowedByALineOfOnlySpaces",
                  "- a\n   \n- b\n",
                  {{"- a", 1, 1, kListItem}, {"- b", 3, 3, kListItem}}},
        LinesCase{"ThematicBreakBeforeABlankLine",
                  "***\n\n# h\n",
                  {{"***", 1, 1, kThematicBreak}, {"# h", 3, 3, kHeading}}},
        LinesCase{"ByteOrderMarkBelongsToNoBlock",
                  "\xEF\xBB\xBF# t\n",
                  {{"# t", 1, 1, kHeading}}},
        LinesCase{"DefinitionsFromElsewhereComeWithTheBlock",
                  "[Text][Ref] and [other]\n\n- [ref]\n\n[ref]: /r\n"
                  "> [Other]: /o \"title\"\n\n```\n[ref]\n```\n"
                  "| [ref] |\n|---|\n",
                  {{"[Text][Ref] and [other]", 1, 1, kParagraph, 0,
                    "[Ref]: #\n[other]: #\n"},
                   {"- [ref]", 3, 3, kListItem, 0, "[ref]: #\n"},
                   {"> [Other]: /o \"title\"", 6, 6, kQuote, 0, "[Other]: #\n"},
                   {"```\n[ref]\n```", 8, 10, kCode},
                   {"| [ref] |", 11, 11, kTableHeaderRow, 1, "[ref]: #\n"}}},
        LinesCase{"LabelsOverLineBreaksAreFound",
                  "> [two\n> words]\n\n[two words]: /x\n",
                  {{"> [two\n> words]", 1, 2, kQuote, 0, "[two words]: #\n"}}},
        // 999 bytes is the longest label a definition may have.
        LinesCase{"LabelsOfTheLongestLengthOrWithAnEscapedBracket",
                  "[" + std::string(999, 'x') + "] [a\\]b]\n\n[" +
                      std::string(999, 'x') + "]: /l\n[a\\]b]: /e\n",
                  {{"[" + std::string(999, 'x') + "] [a\\]b]", 1, 1,
                    kParagraph, 0,
                    "[" + std::string(999, 'x') + "]: #\n[a\\]b]: #\n"}}},
        LinesCase{"UnclosedFenceEndingAListItemKeepsItsBlankLines",
                  "- a\n  ```\n  x\n\n\n",
                  {{"- a\n  ```\n  x\n\n\n", 1, 5, kListItem}}}),
    [](const ::testing::TestParamInfo<LinesCase>& info) {
      return std::string(info.param.name);
    });

TEST(BlockExtraction, EmptyAndBlankDocumentsHaveNoBlocks) {
  EXPECT_TRUE(extractBlocks("").empty());
  EXPECT_TRUE(extractBlocks("\n\n   \n").empty());
  EXPECT_TRUE(extractBlocks("\r\r\r\n").empty());
  EXPECT_TRUE(extractBlocks("[only]: /a \"definition\"\n").empty());
}

TEST(BlockExtraction, KeepsInvalidUtf8BytesInTheSource) {
  const std::vector<Block> blocks = extractBlocks("a\xff\xfe b\n\nc\n");
  ASSERT_EQ(blocks.size(), 2U);
  EXPECT_EQ(blocks[0].source, "a\xff\xfe b");
  EXPECT_EQ(blocks[1].source, "c");
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
