#include "examples/markdown_layout/markdown_parsing.h"

#include <cmark-gfm-core-extensions.h>
#include <md4c.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct ParserDeleter {
  void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};

// cmark-gfm's table extension. Registration fills a process-wide list
// without a lock, so it is done once, and the extension looked up once,
// before any parser uses it; every later parse only reads the pointer.
cmark_syntax_extension* tableExtension() {
  static cmark_syntax_extension* const table = [] {
    cmark_gfm_core_extensions_ensure_registered();
    return cmark_find_syntax_extension("table");
  }();
  return table;
}

ParsedMarkdown parseWithCmark(std::string_view text, bool tables,
                              std::string_view prefix = {}) {
  cmark_syntax_extension* table = tables ? tableExtension() : nullptr;
  const std::unique_ptr<cmark_parser, ParserDeleter> parser(
      cmark_parser_new(CMARK_OPT_VALIDATE_UTF8));
  if (table != nullptr) {
    cmark_parser_attach_syntax_extension(parser.get(), table);
  }
  if (!prefix.empty()) {
    cmark_parser_feed(parser.get(), prefix.data(), prefix.size());
  }
  cmark_parser_feed(parser.get(), text.data(), text.size());
  return ParsedMarkdown(cmark_parser_finish(parser.get()));
}

// What the entity `entity` ("&name;", "&#123;" or "&#x7B;") stands for,
// decoded by cmark-gfm's own table: the few common ones directly, the
// others by parsing them alone with cmark-gfm's core parser, which shares
// nothing between parses. An unknown name stays as written.
void appendDecodedEntity(std::string_view entity, std::string& out) {
  if (entity == "&amp;") {
    out += '&';
  } else if (entity == "&lt;") {
    out += '<';
  } else if (entity == "&gt;") {
    out += '>';
  } else if (entity == "&quot;") {
    out += '"';
  } else {
    const ParsedMarkdown root = parseWithCmark(entity, false);
    cmark_node* paragraph = cmark_node_first_child(root.get());
    for (cmark_node* text =
             paragraph != nullptr ? cmark_node_first_child(paragraph) : nullptr;
         text != nullptr; text = cmark_node_next(text)) {
      const char* literal = cmark_node_get_literal(text);
      if (literal != nullptr) out += literal;
    }
  }
}

// Builds cmark-gfm inline nodes from md4c's events, for each top-level
// paragraph of md4c's input; other top-level blocks get no node. Every
// entered span pushes one entry on `open_` (the node its content goes to,
// or null where it is dropped) and leaving it pops that entry.
class InlineBuilder {
 public:
  struct TopLevelBlock {
    ParsedMarkdown paragraph;  // null unless the block is a paragraph
    std::size_t firstTextOffset = std::string_view::npos;  // in the input
  };

  explicit InlineBuilder(std::string_view input) : input_(input) {}

  std::vector<TopLevelBlock> take() { return std::move(blocks_); }

  static int enterBlock(MD_BLOCKTYPE type, void* /*detail*/, void* self) {
    static_cast<InlineBuilder*>(self)->enter(type);
    return 0;
  }
  static int leaveBlock(MD_BLOCKTYPE type, void* /*detail*/, void* self) {
    static_cast<InlineBuilder*>(self)->leave(type);
    return 0;
  }
  static int enterSpan(MD_SPANTYPE type, void* /*detail*/, void* self) {
    static_cast<InlineBuilder*>(self)->enterInline(type);
    return 0;
  }
  static int leaveSpan(MD_SPANTYPE /*type*/, void* /*detail*/, void* self) {
    static_cast<InlineBuilder*>(self)->leaveInline();
    return 0;
  }
  static int text(MD_TEXTTYPE type, const MD_CHAR* text, MD_SIZE size,
                  void* self) {
    static_cast<InlineBuilder*>(self)->addText(type,
                                               std::string_view(text, size));
    return 0;
  }

 private:
  void enter(MD_BLOCKTYPE type) {
    if (type == MD_BLOCK_DOC) return;
    if (blockDepth_++ != 0) return;
    TopLevelBlock& block = blocks_.emplace_back();
    if (type == MD_BLOCK_P) {
      block.paragraph.reset(cmark_node_new(CMARK_NODE_PARAGRAPH));
      open_.assign(1, block.paragraph.get());
    } else {
      open_.assign(1, nullptr);
    }
  }

  void leave(MD_BLOCKTYPE type) {
    if (type == MD_BLOCK_DOC) return;
    if (blockDepth_ == 1) flushText();
    --blockDepth_;
  }

  [[nodiscard]] cmark_node* current() const {
    return open_.empty() || blockDepth_ != 1 ? nullptr : open_.back();
  }

  // Appends `child` to `parent` and returns it; frees it and returns null
  // where there is no parent or the tree cannot hold it there.
  static cmark_node* attach(cmark_node* parent, cmark_node* child) {
    if (parent == nullptr || cmark_node_append_child(parent, child) == 0) {
      cmark_node_free(child);
      return nullptr;
    }
    return child;
  }

  void enterInline(MD_SPANTYPE type) {
    flushText();
    cmark_node* parent = current();
    cmark_node* node = nullptr;
    switch (type) {
      case MD_SPAN_EM:
        node = cmark_node_new(CMARK_NODE_EMPH);
        break;
      case MD_SPAN_STRONG:
        node = cmark_node_new(CMARK_NODE_STRONG);
        break;
      case MD_SPAN_A:
        node = cmark_node_new(CMARK_NODE_LINK);
        break;
      case MD_SPAN_IMG:
        node = cmark_node_new(CMARK_NODE_IMAGE);
        break;
      case MD_SPAN_CODE:
        node = cmark_node_new(CMARK_NODE_CODE);
        inCode_ = true;
        break;
      default:  // strikethrough: its content belongs to the parent
        open_.push_back(parent);
        return;
    }
    open_.push_back(attach(parent, node));
  }

  void leaveInline() {
    if (inCode_) {
      if (current() != nullptr) {
        cmark_node_set_literal(current(), code_.c_str());
      }
      code_.clear();
      inCode_ = false;
    } else {
      flushText();
    }
    if (open_.size() > 1) open_.pop_back();
  }

  void addText(MD_TEXTTYPE type, std::string_view text) {
    if (blockDepth_ == 0) return;
    TopLevelBlock& block = blocks_.back();
    if (block.firstTextOffset == std::string_view::npos &&
        text.data() >= input_.data() &&
        text.data() < input_.data() + input_.size()) {
      block.firstTextOffset =
          static_cast<std::size_t>(text.data() - input_.data());
    }
    if (current() == nullptr) return;
    if (inCode_) {
      code_ += type == MD_TEXT_NULLCHAR ? kReplacementCharacter : text;
      return;
    }
    switch (type) {
      case MD_TEXT_BR:
      case MD_TEXT_SOFTBR:
        flushText();
        attach(current(),
               cmark_node_new(type == MD_TEXT_BR ? CMARK_NODE_LINEBREAK
                                                 : CMARK_NODE_SOFTBREAK));
        return;
      case MD_TEXT_HTML:
        if (pendingType_ != CMARK_NODE_HTML_INLINE) flushText();
        pendingType_ = CMARK_NODE_HTML_INLINE;
        pending_ += text;
        return;
      default:
        break;
    }
    if (pendingType_ != CMARK_NODE_TEXT) flushText();
    pendingType_ = CMARK_NODE_TEXT;
    if (type == MD_TEXT_NULLCHAR) {
      pending_ += kReplacementCharacter;
    } else if (type == MD_TEXT_ENTITY) {
      appendDecodedEntity(text, pending_);
    } else {
      pending_ += text;
    }
  }

  // Adjacent texts of one kind become one node.
  void flushText() {
    if (pending_.empty()) return;
    cmark_node* node = cmark_node_new(pendingType_);
    cmark_node_set_literal(node, pending_.c_str());
    attach(current(), node);
    pending_.clear();
  }

  std::string_view input_;
  std::vector<TopLevelBlock> blocks_;
  int blockDepth_ = 0;  // of md4c's blocks, the document not counted
  std::vector<cmark_node*> open_;
  std::string pending_;  // text not yet in the tree
  cmark_node_type pendingType_ = CMARK_NODE_TEXT;
  std::string code_;  // of the code span being read
  bool inCode_ = false;
};

// Whether GitHub's inline extensions could read `content` otherwise than
// CommonMark does: it holds a tilde, or the start of an autolink.
bool mayUseInlineExtensions(std::string_view content) {
  return content.find('~') != std::string_view::npos ||
         content.find("://") != std::string_view::npos ||
         content.find("www.") != std::string_view::npos ||
         content.find('@') != std::string_view::npos;
}

// The nodes whose inline content md4c reads again: paragraphs, headings
// and table cells that may use the inline extensions, in document order.
std::vector<cmark_node*> nodesForInlineExtensions(cmark_node* root) {
  std::vector<cmark_node*> nodes;
  cmark_iter* iter = cmark_iter_new(root);
  for (cmark_event_type event = cmark_iter_next(iter);
       event != CMARK_EVENT_DONE; event = cmark_iter_next(iter)) {
    if (event != CMARK_EVENT_ENTER) continue;
    cmark_node* node = cmark_iter_get_node(iter);
    const cmark_node_type type = cmark_node_get_type(node);
    if (type != CMARK_NODE_PARAGRAPH && type != CMARK_NODE_HEADING &&
        nodeTypeName(node) != "table_cell") {
      continue;
    }
    // A node without children may hold no content at all, and the parser
    // leaves the content of such a node (a cell a short row lacks)
    // unterminated; nor could its inlines use an extension.
    if (cmark_node_first_child(node) == nullptr) continue;
    const char* content = cmark_node_get_string_content(node);
    if (content != nullptr && mayUseInlineExtensions(content)) {
      nodes.push_back(node);
    }
  }
  cmark_iter_free(iter);
  return nodes;
}

// `content` as a paragraph of md4c's input: its lines after the first
// indented, so that none of them can start a block. With `escapeBlockStart`
// its first character is escaped (or the '.' or ')' after leading digits),
// so that a line that would start a block (a cell or heading reading
// "- a", "1. a", "# a" or "> a") is a paragraph: in such a line the
// character escaped is no delimiter either.
void appendParagraph(std::string_view content, bool escapeBlockStart,
                     std::string& input) {
  if (escapeBlockStart && !content.empty()) {
    const std::size_t digits = content.find_first_not_of("0123456789");
    if (digits != 0 && digits != std::string_view::npos &&
        (content[digits] == '.' || content[digits] == ')')) {
      input.append(content.substr(0, digits));
      content.remove_prefix(digits);
    }
    if (std::ispunct(static_cast<unsigned char>(content.front())) != 0) {
      input += '\\';
    }
  }
  // The parser ends each line of a content with '\n', whatever ended it
  // in the document.
  for (char c : content) {
    input += c;
    if (c == '\n') input += "    ";
  }
  input += "\n\n";
}

// Replaces the inline content of `nodes` (from cmark-gfm, without its inline
// extensions) by md4c's reading of the same text with strikethrough and
// autolinks. md4c reads each node's content as a paragraph of its own (see
// appendParagraph), followed by the whole document, which defines the link
// references as it does for cmark-gfm. Returns the nodes whose content md4c
// did not read as exactly one paragraph; they keep cmark-gfm's reading.
std::vector<cmark_node*> applyInlineExtensions(
    std::string_view document, const std::vector<cmark_node*>& nodes,
    bool escapeBlockStarts) {
  std::string input;
  std::vector<std::size_t> starts;
  for (cmark_node* node : nodes) {
    starts.push_back(input.size());
    appendParagraph(cmark_node_get_string_content(node), escapeBlockStarts,
                    input);
  }
  const std::size_t documentStart = input.size();
  input += document;
  if (input.size() > std::numeric_limits<MD_SIZE>::max()) return nodes;

  InlineBuilder builder(input);
  MD_PARSER parser{};
  parser.abi_version = 0;
  parser.flags = MD_FLAG_STRIKETHROUGH | MD_FLAG_PERMISSIVEAUTOLINKS;
  parser.enter_block = &InlineBuilder::enterBlock;
  parser.leave_block = &InlineBuilder::leaveBlock;
  parser.enter_span = &InlineBuilder::enterSpan;
  parser.leave_span = &InlineBuilder::leaveSpan;
  parser.text = &InlineBuilder::text;
  md_parse(input.data(), static_cast<MD_SIZE>(input.size()), &parser, &builder);
  std::vector<InlineBuilder::TopLevelBlock> blocks = builder.take();

  // The blocks md4c read in each node's stretch of the input.
  std::vector<std::vector<InlineBuilder::TopLevelBlock*>> read(nodes.size());
  for (InlineBuilder::TopLevelBlock& block : blocks) {
    const std::size_t at = block.firstTextOffset;
    if (at == std::string_view::npos || at >= documentStart) continue;
    const auto next = std::upper_bound(starts.begin(), starts.end(), at);
    read[static_cast<std::size_t>(next - starts.begin()) - 1].push_back(&block);
  }
  std::vector<cmark_node*> unread;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (read[i].size() != 1 || read[i][0]->paragraph == nullptr) {
      unread.push_back(nodes[i]);
      continue;
    }
    cmark_node* target = nodes[i];
    while (cmark_node* child = cmark_node_first_child(target)) {
      cmark_node_free(child);
    }
    cmark_node* paragraph = read[i][0]->paragraph.get();
    while (cmark_node* child = cmark_node_first_child(paragraph)) {
      if (cmark_node_append_child(target, child) == 0) cmark_node_free(child);
    }
  }
  return unread;
}

}  // namespace

ParsedMarkdown parseMarkdown(std::string_view text, bool github) {
  ParsedMarkdown root = parseWithCmark(text, github);
  if (github) {
    const std::vector<cmark_node*> nodes = nodesForInlineExtensions(root.get());
    if (!nodes.empty()) {
      // A cell's or an ATX heading's one line may read as a block start;
      // read those again with it escaped.
      std::vector<cmark_node*> again;
      for (cmark_node* node : applyInlineExtensions(text, nodes, false)) {
        const std::string_view content = cmark_node_get_string_content(node);
        if (content.find_first_of("\r\n") == std::string_view::npos) {
          again.push_back(node);
        }
      }
      if (!again.empty()) applyInlineExtensions(text, again, true);
    }
  }
  return root;
}

ParsedMarkdown parseBlockStructure(std::string_view text,
                                   std::string_view prefix) {
  return parseWithCmark(text, true, prefix);
}

std::size_t markupCharacters(std::string_view text) {
  static constexpr std::string_view kMarkup = "!\"&')*+-.:<>@[\\]_`|~\r\n";
  static const std::array<bool, 256> isMarkup = [] {
    std::array<bool, 256> table{};
    for (const char c : kMarkup) table[static_cast<unsigned char>(c)] = true;
    return table;
  }();
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A CR LF is one line end: its LF counts, its CR not.
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (isMarkup[static_cast<unsigned char>(text[i])]) ++count;
  }
  return count;
}

std::string_view nodeTypeName(cmark_node* node) {
  const char* name = cmark_node_get_type_string(node);
  return name != nullptr ? std::string_view(name) : std::string_view();
}

}  // namespace morvane::vesk::markdown_layout
