#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_EXTRACTION_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_EXTRACTION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::vesk::markdown_layout {

enum class BlockKind : std::uint8_t {
  kParagraph,
  kHeading,
  kCode,
  kHtml,
  kThematicBreak,
  kQuote,
  kListItem,
  kTableHeaderRow,
  kTableRow,
  kOther,  // a top-level node of a type the extraction does not name
};

// "paragraph", "heading", "code", "html", "thematic-break", "quote",
// "list-item", "table-header", "table-row" or "other".
std::string_view blockKindName(BlockKind kind);

// One block a viewer lays out and scrolls by: a heading, a paragraph, a list
// item, a block quote, a code or HTML block, a thematic break or one table
// row.
struct Block {
  // The block's own source: lines firstLine to lastLine of the document,
  // joined by '\n', each without its line end (and a final '\n' when the
  // last line is empty, so that it still counts as a line).
  std::string source;
  // The link reference definitions of the document that `source` may use,
  // one a line ("[label]: #"): measured with them, a reference resolves as
  // it does in the whole document. The destination is a placeholder: only
  // whether a label is defined changes the layout. Empty for most blocks.
  std::string definitions;
  int firstLine = 0;  // 1-based, as the markdown parser counts lines
  int lastLine = 0;
  BlockKind kind = BlockKind::kParagraph;
  bool tableRow = false;           // `source` is one row of a table
  bool tableHeaderRow = false;     // that row is the table's header
  std::uint16_t tableColumns = 0;  // columns of its table, for a row
};

// Splits a GitHub-flavoured markdown document into blocks, in document order:
// the document's top-level blocks, except that a list gives one block per
// item and a table one block per row.
//
// Blocks are in order, never overlap, and each holds exactly its own lines:
// every line that is drawn belongs to exactly one block. Lines that draw
// nothing belong to none: blank lines between blocks and after a block's
// last line (except in an unclosed fenced code block, whose content they
// are), link reference definitions (Block::definitions brings them to the
// blocks that use them), a table's delimiter row, and a leading UTF-8 byte
// order mark.
//
// Lines are what the parser takes them to be: LF, CR and CR LF each end one.
// The blocks are cmark-gfm's with its table extension (parseBlockStructure):
// GitHub's own block and table rules, with the lines each block starts on.
// Its end lines are corrected where they are known to be off: a block ends
// at the latest on the line before the next one opens (a setext heading, or
// a fence that a lazy line closes in a quote or list item, is closed only
// by the next line), a heading or paragraph starts after the reference
// definitions the parser took from its start, HTML blocks and indented
// code end where their literal does, and the paragraph a table took its
// header row from (which the parser leaves without a position, keeping the
// definitions at its start in its text, and after which the block before
// it may end too late) holds the lines right above that row that its text
// has without those definitions.
//
// Never fails; an empty document has no blocks. Thread-safe, without a lock.
std::vector<Block> extractBlocks(std::string_view document);

// The markup characters (see markupCharacters()) of what extractBlocks()
// parses for `document`: the document, and before it a short paragraph for
// each text in brackets, to learn which link labels the document defines.
// Linear in the document's size; parses nothing.
std::size_t extractionMarkup(std::string_view document);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_EXTRACTION_H_
