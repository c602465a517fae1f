#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_LISTING_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_LISTING_H_

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "examples/markdown_layout/block_extraction.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/text_shaper.h"

namespace morvane::vesk::markdown_layout {

// The header line of a block listing.
inline constexpr std::string_view kBlockListingHeader =
    "document\tlines\tkind\twidth\theight";

// `field` as a listing writes it, so that a document name holding a tab, a
// line end or a control character still leaves one line of five fields per
// block and can be read back exactly: a backslash becomes "\\", a tab "\t",
// a line feed "\n", a carriage return "\r", and every other byte below 0x20
// and 0x7F "\x" and two lower-case hex digits ("\x1b" for ESC). Every other
// byte is kept as it is.
std::string escapeListingField(std::string_view field);

// Writes one tab-separated line per block of `blocks`, in order, so that a
// user sees what was measured: `documentName` (escaped as
// escapeListingField() says), the block's line range ("3-5", or "7" for one
// line), its kind (blockKindName()) and its size laid out with `options`, in
// pixels with two decimals. Measures every block afresh with `shaper`,
// without any cache. Throws what measuring throws. Thread safety: that of
// `shaper` (one thread at a time).
void listBlocks(std::ostream& out, std::string_view documentName,
                const std::vector<Block>& blocks, const LayoutOptions& options,
                TextShaper& shaper);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_LISTING_H_
