#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_EXTRACTION_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_EXTRACTION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::vesk::markdown_layout {

// One block a viewer lays out and scrolls by: a heading, a paragraph, a list
// item, a block quote, a code or HTML block, a thematic break or one table
// row. `source` is the block's own source lines, as the document has them.
struct Block {
  std::string source;
  int firstLine = 0;               // 1-based line of the document it starts on
  std::int32_t headingLevel = 0;   // 1-6 for a heading, else 0
  bool tableRow = false;           // `source` is one row of a table
  bool tableHeaderRow = false;     // that row is the table's header
  std::uint16_t tableColumns = 0;  // columns of its table, for a row
};

// Splits a GitHub-flavoured markdown document into blocks, in document order:
// the document's top-level blocks, except that a list gives one block per
// item and a table one block per row. Link reference definitions belong to
// no block. Never fails; an empty document has no blocks. Thread-safe.
std::vector<Block> extractBlocks(std::string_view document);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_EXTRACTION_H_
