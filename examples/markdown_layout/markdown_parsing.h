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

// Parses `text` with cmark-gfm. With `github`, the table, strikethrough and
// autolink extensions are on. Invalid UTF-8 becomes U+FFFD.
//
// Thread-safe, and the result never depends on what other threads parse:
// cmark-gfm changes process-wide tables on every parse with extensions, so
// calls hold one process-wide lock while the library parses (the tree is
// then the caller's own). Other code of the process must not call
// cmark_parser_feed() or cmark_parser_finish() directly; reading and freeing
// trees is safe from any thread.
ParsedMarkdown parseMarkdown(std::string_view text, bool github);

// The type name cmark-gfm gives `node` ("table", "table_row", ...): the only
// way to recognise extension nodes through the installed headers.
std::string_view nodeTypeName(cmark_node* node);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_MARKDOWN_PARSING_H_
