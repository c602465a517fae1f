// Layout on the installed DejaVu fonts (fonts-dejavu-core), the key that
// describes it, and the cached layout with verification.

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/measurement_cache.h"
#include "examples/markdown_layout/block_extraction.h"
#include "examples/markdown_layout/block_layouter.h"
#include "examples/markdown_layout/block_measurement.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/text_shaper.h"

namespace morvane::vesk::markdown_layout {
namespace {

// Runs `work` on a thread with a 256-KiB stack and waits for it.
void runOnSmallStack(const std::function<void()>& work) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, std::size_t{256} * 1024), 0);
  pthread_t thread;
  auto* task = new std::function<void()>(work);
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void* argument) -> void* {
                  std::unique_ptr<std::function<void()>> run(
                      static_cast<std::function<void()>*>(argument));
                  (*run)();
                  return nullptr;
                },
                task),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

Block paragraph(std::string source) {
  Block block;
  block.source = std::move(source);
  return block;
}

class BlockLayoutTest : public ::testing::Test {
 protected:
  CachedSize measure(const Block& block, const LayoutOptions& options) {
    return measureBlock(layoutKey(block, options), shaper_);
  }
  CachedSize measure(const std::string& source, double maxWidth = 720.0) {
    LayoutOptions options;
    options.maxWidth = maxWidth;
    return measure(paragraph(source), options);
  }

  TextShaper shaper_{kFontDirectory};
};

TEST_F(BlockLayoutTest, WidthGrowsWithTheText) {
  const CachedSize one = measure("word");
  const CachedSize two = measure("word word");
  const CachedSize three = measure("word word word");
  EXPECT_GT(one.width, 0.0);
  EXPECT_GT(two.width, one.width);
  EXPECT_GT(three.width, two.width);
  EXPECT_EQ(one.height, three.height);  // all on one line
}

TEST_F(BlockLayoutTest, NarrowerWidthWrapsIntoMoreLines) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "measure ";
  const CachedSize wide = measure(text, 720.0);
  const CachedSize narrow = measure(text, 200.0);
  EXPECT_LE(wide.width, 720.0);
  EXPECT_LE(narrow.width, 200.0);
  EXPECT_GT(narrow.height, wide.height);
  // One line of body text is the face's line height times the spacing.
  const LayoutOptions options;
  const double line = shaper_.lineHeight(options.regularFont, 16.0) * 1.2;
  EXPECT_DOUBLE_EQ(measure("measure").height, line);
  EXPECT_GE(narrow.height, 10 * line);
}

TEST_F(BlockLayoutTest, WordWiderThanTheLineIsBroken) {
  const std::string word(200, 'm');
  const CachedSize size = measure(word, 100.0);
  EXPECT_LE(size.width, 100.0);
  EXPECT_GT(size.width, 50.0);
  EXPECT_GT(size.height, 10 * measure("m").height);
}

TEST_F(BlockLayoutTest, EqualInputsMeasureEqualSizesInAnyShaper) {
  const std::vector<std::string> sources{
      "plain *emphasis* **strong** `code` [link](x) ~~gone~~",
      "## A heading",
      "- item\n  - nested\n\n  more",
      "> quote\n> ```\n> code\n> ```",
      "```\n\tindented\n```",
      "| a | b |\n|---|---|\n| c | d |",
  };
  TextShaper other(kFontDirectory);
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const MeasurementCacheKey key = layoutKey(paragraph(source), {});
    const CachedSize first = measureBlock(key, shaper_);
    const CachedSize again = measureBlock(key, shaper_);
    const CachedSize elsewhere = measureBlock(key, other);
    EXPECT_GT(first.width, 0.0);
    EXPECT_EQ(first.width, again.width);
    EXPECT_EQ(first.height, again.height);
    EXPECT_EQ(first.width, elsewhere.width);
    EXPECT_EQ(first.height, elsewhere.height);
  }
}

// Each input that changes the layout changes both the key and the size.
struct InputCase {
  const char* name;
  std::string source;
  std::function<void(Block&, LayoutOptions&)> change;
};

void PrintTo(const InputCase& c, std::ostream* out) { *out << c.name; }

class LayoutInputTest : public BlockLayoutTest,
                        public ::testing::WithParamInterface<InputCase> {};

TEST_P(LayoutInputTest, ChangesTheKeyAndTheSize) {
  const InputCase& c = GetParam();
  Block block = extractBlocks(c.source).at(0);
  LayoutOptions options;
  options.maxWidth = 300.0;
  const MeasurementCacheKey before = layoutKey(block, options);
  const CachedSize sizeBefore = measure(block, options);
  c.change(block, options);
  const MeasurementCacheKey after = layoutKey(block, options);
  const CachedSize sizeAfter = measure(block, options);
  EXPECT_FALSE(before == after);
  EXPECT_TRUE(sizeBefore.width != sizeAfter.width ||
              sizeBefore.height != sizeAfter.height)
      << sizeBefore.width << " x " << sizeBefore.height;
}

const std::string kLongText =
    "AVAVAV To Wa: a paragraph long enough to wrap at three hundred pixels";

INSTANTIATE_TEST_SUITE_P(
    Inputs, LayoutInputTest,
    ::testing::Values(
        InputCase{"Source", kLongText,
                  [](Block& b, LayoutOptions&) {
                    b.source += "\n\nA second paragraph.";
                  }},
        InputCase{"FontSize", kLongText,
                  [](Block&, LayoutOptions& o) { o.fontSize = 18.0; }},
        InputCase{"MaxWidth", kLongText,
                  [](Block&, LayoutOptions& o) { o.maxWidth = 200.0; }},
        InputCase{"LineSpacing", kLongText,
                  [](Block&, LayoutOptions& o) { o.lineSpacing = 1.5; }},
        InputCase{"Kerning", kLongText,
                  [](Block&, LayoutOptions& o) { o.kerning = false; }},
        // The level is not a field of its own: the source says it.
        InputCase{"HeadingLevelInTheSource", "## Heading",
                  [](Block& b, LayoutOptions&) { b.source = "# Heading"; }},
        InputCase{"ReferenceDefinitions", "[a] [b][c] and more text",
                  [](Block& b, LayoutOptions&) {
                    b.definitions = "[a]: #\n[c]: #\n";
                  }},
        InputCase{"TableRow", "| a | b |\n|---|---|",
                  [](Block& b, LayoutOptions&) { b.tableRow = false; }},
        InputCase{"TableHeaderRow", "| a | b |\n|---|---|",
                  [](Block& b, LayoutOptions&) { b.tableHeaderRow = false; }},
        InputCase{"TableColumns", "| a | b |\n|---|---|",
                  [](Block& b, LayoutOptions&) { b.tableColumns = 3; }},
        InputCase{"RegularFont", "plain",
                  [](Block&, LayoutOptions& o) {
                    o.regularFont = "DejaVuSansCondensed.ttf";
                  }},
        InputCase{"BoldFont", "**strong**",
                  [](Block&, LayoutOptions& o) {
                    o.boldFont = "DejaVuSansCondensed-Bold.ttf";
                  }},
        InputCase{"ObliqueFont", "*emphasis*",
                  [](Block&, LayoutOptions& o) {
                    o.obliqueFont = "DejaVuSansCondensed-Oblique.ttf";
                  }},
        InputCase{"BoldObliqueFont", "***both***",
                  [](Block&, LayoutOptions& o) {
                    o.boldObliqueFont = "DejaVuSansCondensed-BoldOblique.ttf";
                  }},
        InputCase{"MonospaceFont", "`code`",
                  [](Block&, LayoutOptions& o) {
                    o.monospaceFont = "DejaVuSans.ttf";
                  }}),
    [](const ::testing::TestParamInfo<InputCase>& info) {
      return std::string(info.param.name);
    });

// A key kept per thread is refilled for each block: whatever the block
// before left in it, and whatever other code set in the fields the layout
// does not use, it must equal a key built afresh.
TEST(LayoutKey, RefilledKeyEqualsAFreshOne) {
  const std::vector<Block> extracted = extractBlocks(
      "# Heading [r]\n\n| a | b | c |\n|---|---|---|\n| 1 |\n\n"
      "```\ncode\n```\n\n[r]: /r\n");
  std::vector<Block> blocks(extracted.begin(), extracted.end());
  blocks.push_back(paragraph(""));
  Block odd = paragraph("odd");
  odd.tableColumns = 9;  // not a row: its columns are not a layout input
  blocks.push_back(odd);
  ASSERT_EQ(blocks.size(), 6U);
  ASSERT_FALSE(blocks[0].definitions.empty());
  ASSERT_TRUE(blocks[2].tableRow);

  LayoutOptions other;
  other.fontSize = 11.0;
  other.maxWidth = 333.0;
  other.lineSpacing = 1.7;
  other.kerning = false;
  other.regularFont = "r.ttf";
  other.boldFont = "b.ttf";
  other.obliqueFont = "o.ttf";
  other.boldObliqueFont = "bo.ttf";
  other.monospaceFont = "m.ttf";
  const std::vector<LayoutOptions> options{LayoutOptions{}, other};

  for (const Block& before : blocks) {
    for (const LayoutOptions& optionsBefore : options) {
      for (const Block& block : blocks) {
        for (const LayoutOptions& now : options) {
          MeasurementCacheKey key = layoutKey(before, optionsBefore);
          key.flag4 = key.flag5 = key.flag6 = key.flag7 = true;
          key.flag8 = key.flag9 = key.flag10 = true;
          key.unsigned2 = key.unsigned3 = 7;
          key.integer = 3;
          fillLayoutKey(block, now, key);
          EXPECT_TRUE(key == layoutKey(block, now))
              << "'" << before.source << "' then '" << block.source << "'";
        }
      }
    }
  }
}

TEST_F(BlockLayoutTest, InvalidUtf8ShapesAsReplacementCharacters) {
  const CachedSize invalid = measure("a\xff\xfe b");
  const CachedSize replaced = measure("a\xEF\xBF\xBD\xEF\xBF\xBD b");
  EXPECT_GT(invalid.width, measure("a b").width);
  EXPECT_EQ(invalid.width, replaced.width);
  EXPECT_EQ(invalid.height, replaced.height);
}

TEST_F(BlockLayoutTest, EmptySourceHasNoSize) {
  const CachedSize empty = measure("");
  EXPECT_EQ(empty.width, 0.0);
  EXPECT_EQ(empty.height, 0.0);
}

TEST_F(BlockLayoutTest, ParagraphOfSeveralMebibytesIsLaidOut) {
  std::string text;
  while (text.size() < (std::size_t{3} << 20)) text += "lorem ipsum dolor ";
  const CachedSize size = measure(text, 720.0);
  const double line = measure("lorem").height;
  EXPECT_LE(size.width, 720.0);
  // About 55 words of 18 bytes per line: tens of thousands of lines.
  EXPECT_GT(size.height, 20000 * line);
}

std::string repeat(std::string_view part, std::size_t times) {
  std::string text;
  text.reserve(part.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += part;
  return text;
}

// A stack of characters attached to one character is shaped up to the cap
// and no further, so that its cost stays linear: what is dropped is neither
// handed to HarfBuzz nor measured, the text after the stack is, and a stack
// within the cap loses nothing.
TEST_F(BlockLayoutTest, StacksOfAttachedCharactersAreCappedWhenShaped) {
  constexpr std::size_t kCap = 32;  // the shaper's documented cap
  struct Case {
    const char* name;
    std::string attached;   // one attached character, or a few
    std::size_t perRepeat;  // code points in `attached`
  };
  const std::vector<Case> cases{
      {"acute accents", "\u0301", 1},
      {"marks above and below", "\u0301\u0316", 2},
      {"marks between zero width spaces", "\u0301\u200B", 2},
      {"marks between joiners", "\u200D\u0300", 2},
      {"spacing marks", "\u0903", 1},
  };
  for (const Case& c : cases) {
    for (const std::size_t repeats :
         {std::size_t{4}, kCap / c.perRepeat, std::size_t{5000}}) {
      const std::size_t attached = repeats * c.perRepeat;
      SCOPED_TRACE(std::string(c.name) + " x" + std::to_string(repeats));
      const std::string stack = repeat(c.attached, repeats);
      const ShapingWork before = shaper_.work();
      const CachedSize size = measure("x" + stack + " after");
      const std::size_t shaped = shaper_.work().characters - before.characters;
      const std::size_t dropped = shaper_.work().dropped - before.dropped;
      EXPECT_EQ(shaped, 1 + std::min(attached, kCap) + 6);
      EXPECT_EQ(dropped, attached - std::min(attached, kCap));
      // What is kept measures as the capped text does.
      const CachedSize capped = measure(
          "x" + repeat(c.attached, std::min(attached, kCap) / c.perRepeat) +
          " after");
      EXPECT_EQ(size.width, capped.width);
      EXPECT_EQ(size.height, capped.height);
      EXPECT_GT(size.width, measure("x after").width / 2);
    }
  }
}

// A paragraph of any length is shaped a piece at a time and its clusters
// are broken into lines as they come, so that what shaping and breaking
// hold at once is bounded by a piece, not by the paragraph; pieces are cut
// after a space, or else never between a character and its marks.
TEST_F(BlockLayoutTest, LongTextIsShapedAndBrokenAPieceAtATime) {
  constexpr std::size_t kPiece =
      std::size_t{16} * 1024;  // the shaper's largest piece
  const std::string words = repeat("lorem ipsum dolor ", (1U << 20) / 18);
  MeasurementWork work;
  const ShapingWork before = shaper_.work();
  const CachedSize size =
      measureBlock(layoutKey(paragraph(words), {}), shaper_, &work);
  EXPECT_GT(size.height, 1000 * measure("lorem").height);
  EXPECT_LE(shaper_.work().largestPiece, kPiece);
  EXPECT_GE(shaper_.work().pieces - before.pieces, words.size() / kPiece);
  EXPECT_LE(work.heldClusters, kPiece + 64);

  // No space to cut after: "e" and a combining acute, which HarfBuzz
  // composes into one "é" cluster, unless a cut parts them.
  const LayoutOptions options;
  std::vector<Cluster> composed;
  shaper_.shape("\u00E9", options.regularFont, 16.0, 1.0, true, composed);
  ASSERT_EQ(composed.size(), 1U);
  const std::size_t letters = 3 * kPiece / 2;
  std::vector<Cluster> clusters;
  shaper_.shape(repeat("e\u0301", letters), options.regularFont, 16.0, 1.0,
                true, clusters);
  EXPECT_EQ(clusters.size(), letters);
  std::size_t unlike = 0;
  for (const Cluster& c : clusters) {
    unlike += c.advance == composed[0].advance ? 0 : 1;
  }
  EXPECT_EQ(unlike, 0U);
}

// Where a long text is cut: after the piece's last space (so that even a
// piece that starts with its only space moves on), else before a character
// that starts a stack; text of exactly a piece is one piece.
TEST_F(BlockLayoutTest, PiecesAreCutAfterASpaceAndAlwaysMoveOn) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t start;
    std::size_t end;  // with pieces of 8 bytes
  };
  const std::vector<Case> cases{
      {"shorter than a piece", "abc def", 0, 7},
      {"exactly a piece", "abcd efg", 0, 8},
      {"after the last space", "ab cd efghij", 0, 6},
      {"after a space at the start", "ab cdefghijklm", 2, 3},
      {"no space", "abcdefghijkl", 0, 8},
      {"never between a letter and its mark", "abcdefg\u0301hij", 0, 6},
      {"from the start given", "abcdefghij kl", 4, 11},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shapingPieceEnd(c.text, c.start, 8), c.end) << c.name;
  }
  const LayoutOptions options;
  std::vector<Cluster> clusters;
  const std::size_t piecesBefore = shaper_.work().pieces;
  shaper_.shape(repeat("ab ", TextShaper::kMaxPieceBytes / 3) + "a",
                options.regularFont, 16.0, 1.0, true, clusters);
  EXPECT_EQ(shaper_.work().pieces - piecesBefore, 1U);
}

// Each inline run is shaped in its own face: text in two styles measures as
// its two parts do apart, never as one run in either face.
TEST_F(BlockLayoutTest, RunsOfDifferentStylesAreShapedApart) {
  struct Case {
    std::string whole, first, second;
  };
  const std::vector<Case> cases{
      {"**AV**AV", "**AV**", "AV"},
      {"*AV*AV", "*AV*", "AV"},
      {"`AV`AV", "`AV`", "AV"},
      {"***AV***AV", "***AV***", "AV"},
      {"**AV*AV***", "**AV**", "***AV***"},
      {"AV`AV`", "AV", "`AV`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.whole);
    const CachedSize whole = measure(c.whole);
    EXPECT_EQ(whole.width, measure(c.first).width + measure(c.second).width);
  }
}

// A code or HTML block is exactly as many monospace lines as it has lines.
TEST_F(BlockLayoutTest, LiteralBlocksAreAsTallAsTheirLines) {
  struct Case {
    std::string source;
    int lines;
  };
  const std::vector<Case> cases{
      {"```\none\n```", 1},      {"```\none\n\nthree\n```", 3},
      {"    one\n    two", 2},   {"~~~\none\n\n\n", 3},
      {"<div>\none\n</div>", 3}, {"```\n\tone\ntwo\n```", 2},
  };
  const LayoutOptions options;
  const double line =
      shaper_.lineHeight(options.monospaceFont, options.fontSize) *
      options.lineSpacing;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_NEAR(measure(c.source).height, c.lines * line, 1e-9);
  }
}

// Nesting as deep as a small hostile file makes it costs heap, not stack:
// measured on a thread of a small stack, so that recursion per level would
// overflow it at a few hundred levels already.
TEST(DeepNesting, ExtractsAndMeasuresOnASmallStack) {
  const auto repeat = [](std::string_view part, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += part;
    return text;
  };
  const std::vector<std::pair<const char*, std::string>> documents{
      {"quotes", std::string(40000, '>') + " x"},
      {"list items", repeat("- ", 20000) + "x"},
      {"ordered items", repeat("1. ", 13000) + "x"},
      {"emphasis", std::string(100000, '*') + "x" + std::string(100000, '*')},
      {"stars", std::string(200000, '*')},
      {"links", repeat("[", 20000) + "x" + repeat("](u)", 20000)},
      {"images", repeat("![", 20000) + "x" + repeat("](u)", 20000)},
      {"strikethrough", repeat("~~", 20000) + "x" + repeat("~~", 20000)},
      {"quoted lists", repeat("> - ", 10000) + "x"},
  };
  for (const auto& named : documents) {
    SCOPED_TRACE(named.first);
    const std::string& document = named.second;
    std::size_t blocks = 0;
    double height = 0.0;
    runOnSmallStack([&] {
      TextShaper shaper(kFontDirectory);
      for (const Block& block : extractBlocks(document)) {
        ++blocks;
        height += measureBlock(layoutKey(block, {}), shaper).height;
      }
    });
    EXPECT_GE(blocks, 1U);
    EXPECT_GT(height, 0.0);
  }
}

// A row's cost does not grow with its table's columns: those the row has
// no cells for are neither parsed nor laid out one by one, and they measure
// as the empty cells they are.
TEST_F(BlockLayoutTest, TableRowCostsWhatTheRowCosts) {
  Block row = paragraph("| x | y |");
  row.tableRow = true;
  MeasurementWork narrow;
  row.tableColumns = 4;
  measureBlock(layoutKey(row, {}), shaper_, &narrow);
  MeasurementWork wide;
  row.tableColumns = 5000;
  measureBlock(layoutKey(row, {}), shaper_, &wide);
  EXPECT_EQ(wide.parsedBytes, narrow.parsedBytes);
  EXPECT_LT(wide.parsedBytes, 64U);
  EXPECT_LE(wide.inlineLayouts, narrow.inlineLayouts + 1);

  for (const bool header : {false, true}) {
    SCOPED_TRACE(header ? "header" : "body");
    for (const std::uint16_t columns : {3, 50}) {
      Block shortRow = paragraph("| x | y |");
      shortRow.tableRow = true;
      shortRow.tableHeaderRow = header;
      shortRow.tableColumns = columns;
      Block written = shortRow;
      for (int i = 2; i < columns; ++i) written.source += " |";
      const CachedSize implicit = measure(shortRow, {});
      const CachedSize explicitCells = measure(written, {});
      EXPECT_EQ(implicit.width, explicitCells.width) << columns;
      EXPECT_EQ(implicit.height, explicitCells.height) << columns;
    }
  }
}

// A table row measured as its own block measures what it measures in its
// whole table, however it writes its pipes: rows with the same cells measure
// the same whether they have both outer pipes, one or none, and the whole
// table, measured as one block, is as wide as its widest row and as tall as
// its rows together.
TEST_F(BlockLayoutTest, RowMeasuresAsItDoesInItsWholeTable) {
  struct Case {
    std::string table;
    std::vector<std::size_t> sameRows;  // rows written differently, same cells
  };
  const std::vector<Case> cases{
      {"| h | i |\n|---|---|\n| wide cell | b |\nwide cell | b\n"
       "| wide cell | b\nwide cell | b |\n",
       {1, 2, 3, 4}},
      {"h | i | j\n--|--|--\nx | yy | zzz\n| x | yy | zzz |\n", {1, 2}},
      {"| h | i | j |\n|---|---|---|\n| only | two |\nonly | two\n"
       "| only | two | |\n",
       {1, 2, 3}},
      {"| h | i |\n|---|---|\n| `x \\| y` | z |\n`x \\| y` | z\n", {1, 2}},
      {"h | i\n-|-\n**bold** | *it*\n| **bold** | *it* |\n", {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const std::vector<Block> rows = extractBlocks(c.table);
    ASSERT_GT(rows.size(), c.sameRows.back());
    double widest = 0.0;
    double height = 0.0;
    std::vector<CachedSize> sizes;
    for (const Block& row : rows) {
      ASSERT_TRUE(row.tableRow) << row.source;
      sizes.push_back(measure(row, {}));
      widest = std::max(widest, sizes.back().width);
      height += sizes.back().height;
    }
    for (const std::size_t same : c.sameRows) {
      const std::size_t first = c.sameRows.front();
      EXPECT_EQ(sizes[same].width, sizes[first].width)
          << rows[same].source << " against " << rows[first].source;
      EXPECT_EQ(sizes[same].height, sizes[first].height) << rows[same].source;
    }
    const CachedSize whole = measure(paragraph(c.table), {});
    EXPECT_EQ(whole.width, widest);
    EXPECT_DOUBLE_EQ(whole.height, height);
  }
}

TEST(CachedBlockLayout, SecondLayoutHitsAndVerifyCatchesAWrongEntry) {
  MeasurementCache cache;
  const Block block = paragraph("Some text to lay out");
  const LayoutOptions options;
  BlockLayouter layouter(CacheMode::kCached, /*verify=*/true, cache);
  LayoutCounts counts;

  const BlockLayout first = layouter.layOut(block, options, counts);
  const BlockLayout second = layouter.layOut(block, options, counts);
  EXPECT_EQ(counts.blocks, 2U);
  EXPECT_EQ(counts.misses, 1U);
  EXPECT_EQ(counts.hits, 1U);
  EXPECT_EQ(counts.measurements, 1U);
  EXPECT_FALSE(second.mismatch);
  EXPECT_EQ(second.size.width, first.size.width);
  EXPECT_EQ(second.size.height, first.size.height);

  cache.set(layoutKey(block, options), CachedSize{1.0, 2.0});
  const BlockLayout poisoned = layouter.layOut(block, options, counts);
  EXPECT_TRUE(poisoned.mismatch);
  EXPECT_EQ(poisoned.size.width, 1.0);
  EXPECT_EQ(poisoned.measured.width, first.size.width);
}

TEST(CachedBlockLayout, WithoutTheCacheEveryBlockIsMeasured) {
  MeasurementCache cache;
  BlockLayouter layouter(CacheMode::kNone, /*verify=*/false, cache);
  LayoutCounts counts;
  for (int i = 0; i < 3; ++i) layouter.layOut(paragraph("same"), {}, counts);
  EXPECT_EQ(counts.measurements, 3U);
  EXPECT_EQ(counts.hits + counts.misses, 0U);
  EXPECT_EQ(cache.entryCount(), 0U);
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
