#include "examples/markdown_layout/markdown_parsing.h"

#include <cmark-gfm-core-extensions.h>

#include <memory>
#include <mutex>

namespace morvane::vesk::markdown_layout {
namespace {

struct ParserDeleter {
  void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};

void attach(cmark_parser* parser, const char* name) {
  if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name)) {
    cmark_parser_attach_syntax_extension(parser, extension);
  }
}

// cmark-gfm keeps the characters that stop its inline parser in two
// process-wide tables (SPECIAL_CHARS and SKIP_CHARS in inlines.c). A parse
// with extensions sets their characters there ('|', '~', ':' and 'w') before
// it parses inlines and clears them afterwards, in
// cmark_manage_extensions_special_characters(): from cmark_parser_finish(),
// and from cmark_parser_feed() for every table row. A parse that clears '~'
// on one thread takes the strikethrough from a parse running on another.
// The same lists tell the inline parser which extension owns a delimiter,
// so they cannot be set once and taken away; every parse holds this lock
// from the first byte fed to the finished tree instead.
std::mutex& parseMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

ParsedMarkdown parseMarkdown(std::string_view text, bool github) {
  // Registration fills a process-wide list without a lock: once, first.
  static std::once_flag registered;
  std::call_once(registered, cmark_gfm_core_extensions_ensure_registered);

  const std::unique_ptr<cmark_parser, ParserDeleter> parser(
      cmark_parser_new(CMARK_OPT_VALIDATE_UTF8));
  if (github) {
    attach(parser.get(), "table");
    attach(parser.get(), "strikethrough");
    attach(parser.get(), "autolink");
  }
  const std::lock_guard lock(parseMutex());
  cmark_parser_feed(parser.get(), text.data(), text.size());
  return ParsedMarkdown(cmark_parser_finish(parser.get()));
}

std::string_view nodeTypeName(cmark_node* node) {
  const char* name = cmark_node_get_type_string(node);
  return name != nullptr ? std::string_view(name) : std::string_view();
}

}  // namespace morvane::vesk::markdown_layout
