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

// Two parsers, each for what only it does safely on many threads at once:
//
// - parseMarkdown() lays out: md4c, whose state is all per call, reads the
//   text and the events are built into a cmark-gfm node tree (cmark-gfm's
//   own inline extensions, strikethrough and autolink, set and clear
//   process-wide character tables on every parse, so they are never used).
// - parseBlockStructure() cuts blocks: cmark-gfm with only its table
//   extension, which never writes those tables and, unlike md4c, tells on
//   which lines each block starts and ends.
//
// Both are thread-safe without any lock, and a result never depends on what
// other threads parse. Neither fails: any text is a document.

// Parses `text` for layout. With `github`, GitHub's tables, strikethrough
// and autolinks (URLs, www. and e-mail addresses) are recognised, not its
// task lists (a "[ ]" stays text, as GitHub's own cmark-gfm build without
// the tasklist extension leaves it). Invalid UTF-8 and NUL become U+FFFD;
// entities are decoded as cmark-gfm decodes them.
//
// The tree has no source positions. It holds cmark-gfm's core node types,
// and its table nodes are those of cmark-gfm's table extension (type name
// "table", "table_header"/"table_row", "table_cell"; the column count and
// header flag through cmark_gfm_extensions_get_*): a table is its rows,
// the header first. A strikethrough span is no node of its own: its content
// is inline in its parent, as it is laid out in the surrounding face.
// Paragraphs of tight list items are paragraph nodes, as in cmark-gfm.
ParsedMarkdown parseMarkdown(std::string_view text, bool github);

// Parses `text` with cmark-gfm and its table extension only, with the
// parser's line numbers. Strikethrough and autolinks are not recognised;
// they change no block's extent.
ParsedMarkdown parseBlockStructure(std::string_view text);

// The type name cmark-gfm gives `node` ("table", "table_row", ...): the only
// way to recognise extension nodes through the installed headers.
std::string_view nodeTypeName(cmark_node* node);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_MARKDOWN_PARSING_H_
