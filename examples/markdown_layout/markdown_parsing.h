#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_MARKDOWN_PARSING_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_MARKDOWN_PARSING_H_

#include <cmark-gfm.h>

#include <memory>
#include <string_view>

namespace morvane::vesk::markdown_layout {

struct NodeTreeDeleter {
  void operator()(cmark_node* root) const { cmark_node_free(root); }
};
// A parsed document; owns its whole tree.
using ParsedMarkdown = std::unique_ptr<cmark_node, NodeTreeDeleter>;

// Two parsers, each for what only it does safely on many threads at once;
// both are thread-safe without any lock, a result never depends on what
// other threads parse, and neither fails: any text is a document.
//
// - cmark-gfm with only its table extension reads the blocks and tables:
//   GitHub's own rules (a table right after paragraph lines, a delimiter
//   cell of one '-', a header that must match the delimiter row), and the
//   lines each block starts on. That extension never writes process-wide
//   state; cmark-gfm's strikethrough and autolink extensions set and clear
//   process-wide character tables on every parse, so they are never used.
// - md4c, whose state is all per call, reads strikethrough and autolinks.
//   It cannot cut blocks itself: it reports no source positions, and the
//   lines that hold no text (fences, setext underlines, thematic breaks,
//   delimiter rows, ">" alone) would be nobody's; nor are its tables
//   GitHub's (it needs "---" in each delimiter cell and a blank line
//   before a table).

// Parses `text` for layout. With `github`, GitHub's tables, strikethrough
// and autolinks (URLs, www. and e-mail addresses) are recognised, not its
// task lists (a "[ ]" stays text). Invalid UTF-8 becomes U+FFFD.
//
// The tree is cmark-gfm's, with the table extension's nodes (type names
// "table", "table_header"/"table_row", "table_cell"; columns and header
// flag through cmark_gfm_extensions_get_*). The inline content of each
// paragraph, heading and cell that holds a tilde or the start of an
// autolink is md4c's reading of the same text, the document's link
// reference definitions resolved; a strikethrough span is no node of its
// own there (its text is inline in its parent, laid out in the face around
// it). Only positions of blocks are the parser's.
ParsedMarkdown parseMarkdown(std::string_view text, bool github);

// Parses `prefix` then `text` with cmark-gfm and its table extension only,
// as one text, with the parser's line numbers: the blocks parseMarkdown()
// lays out, without strikethrough and autolinks, which change no block's
// extent.
ParsedMarkdown parseBlockStructure(std::string_view text,
                                   std::string_view prefix = {});

// What parsing costs in memory beyond a few bytes a byte: a node, a
// delimiter, a bracket or a mark, each at most kParserBytesPerMarkup bytes
// in cmark-gfm or md4c however the text reads, is only ever built for a
// line end or one of the ASCII characters ! " & ' ) * + - . : < > @ [ \ ]
// _ ` | ~ (measured: a nested list item for each "- ", a text node and a
// bracket for each '[', a text node for each '.', a softbreak and a text
// node for each line end, md4c's marks). The number of those in `text`
// (CR LF counts once): counted before parsing, so that a text the parsers
// could not hold within a limit is refused without parsing it.
std::size_t markupCharacters(std::string_view text);
inline constexpr std::size_t kParserBytesPerMarkup = 1024;

// The type name cmark-gfm gives `node` ("table", "table_row", ...): the only
// way to recognise extension nodes through the installed headers.
std::string_view nodeTypeName(cmark_node* node);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_MARKDOWN_PARSING_H_
