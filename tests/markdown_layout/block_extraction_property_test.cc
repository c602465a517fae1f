// Block extraction over generated documents: the shapes whose blocks a
// parser's own positions get wrong, in random order, with random blank lines
// and line ends, and each piece that a block closes on its last line (an ATX
// or setext heading, a closed fence, a thematic break, a one-line HTML
// comment), and each that ends in a paragraph when the next opens a block
// that interrupts one, followed either by blank lines or directly by the
// next piece, as the grammar allows (a paragraph right after such a block,
// even one a table then takes its header row from, is a paragraph of its
// own). Each
// piece knows its blocks, their kinds and true lines; every listing must be
// those blocks: the same kinds on the same lines, in order, disjoint, and
// every other line (blank lines, link reference definitions, a table's
// delimiter row) in none.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "examples/markdown_layout/block_extraction.h"

namespace morvane::vesk::markdown_layout {
namespace {

using enum BlockKind;

struct PieceBlock {
  BlockKind kind;
  int first;  // 0-based lines of the piece
  int last;
};

struct Piece {
  std::vector<std::string> lines;
  std::vector<PieceBlock> blocks;  // lines of no block draw nothing
  // Its last line closes its last block, so the next piece may start on
  // the next line.
  bool closed = false;
};

// Pieces that end every open block when a blank line follows them. The last
// one, a block quote whose fence an unquoted line ends and whose closing
// fence then opens an unclosed fence, is only ever the last piece.
const std::vector<Piece>& pieces() {
  static const std::vector<Piece> all = {
      {{"Foo", "---", "bar"}, {{kHeading, 0, 1}, {kParagraph, 2, 2}}},
      {{"Two", "lines", "===", "then text", "and more"},
       {{kHeading, 0, 2}, {kParagraph, 3, 4}}},
      {{"[ref]: /url", "Heading", "---", "text"},
       {{kHeading, 1, 2}, {kParagraph, 3, 3}}},
      {{"[ref]: /url \"title\"", "[other]: /o", "Setext", "==="},
       {{kHeading, 2, 3}},
       true},
      {{"[ref]: /url", "# ATX"}, {{kHeading, 1, 1}}, true},
      {{"Title", "==="}, {{kHeading, 0, 1}}, true},
      {{"## Title ##"}, {{kHeading, 0, 0}}, true},
      {{"<!-- one line -->"}, {{kHtml, 0, 0}}, true},
      {{"b", "|a|b|", "|-|-|"}, {{kParagraph, 0, 0}, {kTableHeaderRow, 1, 1}}},
      {{"[d]: /d", "two", "lines", "| a | b |", "| - | - |", "| 1 | 2 |"},
       {{kParagraph, 1, 2}, {kTableHeaderRow, 3, 3}, {kTableRow, 5, 5}}},
      {{"[d]: /d", "| a |", "| - |"}, {{kTableHeaderRow, 1, 1}}},
      {{"[alone]: /a"}, {}},
      {{"> ```", "> code", "> ```"}, {{kQuote, 0, 2}}},
      {{"> ```", "> x", "lazy"}, {{kQuote, 0, 1}, {kParagraph, 2, 2}}},
      {{"- ```", "  x", "  ```"}, {{kListItem, 0, 2}}},
      {{"- ```", "  x", "after"}, {{kListItem, 0, 1}, {kParagraph, 2, 2}}},
      {{"1. ```", "   code", "", "   more", "   ```"}, {{kListItem, 0, 4}}},
      {{"> a", "lazy", "> b"}, {{kQuote, 0, 2}}},
      {{"- a", "lazy"}, {{kListItem, 0, 1}}},
      {{"- a", "   ", "- b"}, {{kListItem, 0, 0}, {kListItem, 2, 2}}},
      {{"- a", "", "  b", "- c"}, {{kListItem, 0, 2}, {kListItem, 3, 3}}},
      {{"para", "| a | b |", "|---|---|", "| 1 | 2 |"},
       {{kParagraph, 0, 0}, {kTableHeaderRow, 1, 1}, {kTableRow, 3, 3}}},
      {{"| h |", "|-|", "| r |", "| s |"},
       {{kTableHeaderRow, 0, 0}, {kTableRow, 2, 2}, {kTableRow, 3, 3}}},
      {{"<div>", "x", "</div>", "still html"}, {{kHtml, 0, 3}}},
      {{"<!-- a", "b -->", "after"}, {{kHtml, 0, 1}, {kParagraph, 2, 2}}},
      {{"<script>", "", "x()", "</script>"}, {{kHtml, 0, 3}}},
      {{"plain *text*", "on two lines"}, {{kParagraph, 0, 1}}},
      {{"***"}, {{kThematicBreak, 0, 0}}, true},
      {{"```", "fenced", "", "```"}, {{kCode, 0, 3}}, true},
      {{"- a", "  - b", "    > c"}, {{kListItem, 0, 2}}},
  };
  return all;
}

// The piece's last line is a line of a paragraph at the top level: the
// next line continues it unless it opens a block that interrupts one.
bool endsInAParagraph(const Piece& piece) {
  return !piece.blocks.empty() && piece.blocks.back().kind == kParagraph &&
         piece.blocks.back().last + 1 == static_cast<int>(piece.lines.size());
}

// `line` opens a block that may interrupt a paragraph: an ATX heading, a
// quote, a bullet item or an ordered one numbered 1, a fence, a thematic
// break, an HTML block of the kinds that may, or a table header row whose
// delimiter row follows (the table then takes it as its header).
bool interruptsAParagraph(const std::string& line) {
  for (const char* start :
       {"#", ">", "- ", "1. ", "```", "***", "<div>", "<!--", "<script>",
        "| h |"}) {
    if (line.starts_with(start)) return true;
  }
  return false;
}

const Piece kUnclosedLast = {
    {"> ```", "foo", "```", "inside the fence"},
    {{kQuote, 0, 0}, {kParagraph, 1, 1}, {kCode, 2, 3}}};

struct Generated {
  std::string text;
  int lines = 0;
  std::vector<PieceBlock> blocks;  // 1-based document lines
};

Generated generate(std::mt19937& random) {
  static const std::vector<std::string> kLineEnds = {"\n", "\r\n", "\r"};
  const std::string& end = kLineEnds[random() % kLineEnds.size()];
  Generated out;
  std::vector<std::string> lines;
  const auto addPiece = [&](const Piece& piece) {
    const int offset = static_cast<int>(lines.size()) + 1;
    lines.insert(lines.end(), piece.lines.begin(), piece.lines.end());
    for (const PieceBlock& block : piece.blocks) {
      out.blocks.push_back(
          {block.kind, block.first + offset, block.last + offset});
    }
  };
  const std::size_t count = 1 + random() % 6;
  const Piece* before = nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    const Piece& piece = pieces()[random() % pieces().size()];
    const bool mayFollowDirectly =
        before != nullptr &&
        (before->closed || (endsInAParagraph(*before) &&
                            interruptsAParagraph(piece.lines.front())));
    if (!(mayFollowDirectly && random() % 2 == 0) &&
        (before != nullptr || random() % 2 == 0)) {
      for (std::size_t b = 1 + random() % 2; b > 0; --b) {
        lines.emplace_back(random() % 3 == 0 ? "  " : "");
      }
    }
    addPiece(piece);
    before = &piece;
  }
  const bool unclosed = random() % 4 == 0;
  if (unclosed) {
    lines.emplace_back("");
    addPiece(kUnclosedLast);
  }
  const std::size_t trailing = random() % 3;
  for (std::size_t b = 0; b < trailing; ++b) lines.emplace_back("");
  // An unclosed fence holds every line after its opening one.
  if (unclosed) out.blocks.back().last = static_cast<int>(lines.size());
  for (const std::string& line : lines) out.text += line + end;
  out.lines = static_cast<int>(lines.size());
  return out;
}

TEST(BlockExtractionProperty, EveryDrawnLineIsInExactlyOneBlock) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 600; ++round) {
    const Generated document = generate(random);
    SCOPED_TRACE("document:\n" + document.text);
    const std::vector<Block> blocks = extractBlocks(document.text);

    std::vector<int> owners(static_cast<std::size_t>(document.lines) + 1, 0);
    int previousLast = 0;
    for (const Block& block : blocks) {
      EXPECT_GT(block.firstLine, previousLast) << "in order and disjoint";
      EXPECT_LE(block.firstLine, block.lastLine);
      EXPECT_LE(block.lastLine, document.lines) << "inside the document";
      previousLast = block.lastLine;
      for (int line = std::max(block.firstLine, 1);
           line <= std::min(block.lastLine, document.lines); ++line) {
        ++owners[static_cast<std::size_t>(line)];
      }
    }
    std::vector<int> drawn(owners.size(), 0);
    for (const PieceBlock& block : document.blocks) {
      for (int line = block.first; line <= block.last; ++line) {
        drawn[static_cast<std::size_t>(line)] = 1;
      }
    }
    for (int line = 1; line <= document.lines; ++line) {
      EXPECT_EQ(owners[static_cast<std::size_t>(line)],
                drawn[static_cast<std::size_t>(line)])
          << "line " << line;
    }
    ASSERT_EQ(blocks.size(), document.blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blockKindName(blocks[i].kind),
                blockKindName(document.blocks[i].kind))
          << "block " << i;
      EXPECT_EQ(blocks[i].firstLine, document.blocks[i].first) << "block " << i;
      EXPECT_EQ(blocks[i].lastLine, document.blocks[i].last) << "block " << i;
    }
    if (HasFailure()) return;  // the first failing document is enough
  }
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
