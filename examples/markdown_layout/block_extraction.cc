#include "examples/markdown_layout/block_extraction.h"

#include <cmark-gfm-core-extensions.h>

#include <algorithm>
#include <set>
#include <string_view>
#include <vector>

#include "examples/markdown_layout/markdown_parsing.h"

namespace morvane::vesk::markdown_layout {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// The longest link label CommonMark accepts, in bytes between the brackets.
constexpr std::size_t kMaxLabelBytes = 999;

// The document's lines as the parser sees them, without their line ends:
// "\n", "\r\n" and a "\r" not followed by "\n" each end a line.
std::vector<std::string_view> splitLines(std::string_view document) {
  std::vector<std::string_view> lines;
  while (!document.empty()) {
    const std::size_t end = document.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      lines.push_back(document);
      break;
    }
    lines.push_back(document.substr(0, end));
    const bool crlf = document[end] == '\r' && end + 1 < document.size() &&
                      document[end + 1] == '\n';
    document.remove_prefix(end + (crlf ? 2 : 1));
  }
  return lines;
}

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Every text between an unescaped '[' and the next unescaped ']' without
// another '[' between them: a superset of the link labels `text` can use.
// Line breaks inside become spaces; a variant also drops what follows each
// break up to the text (container markers such as "> "). Calls `found` with
// each, in order, repeats included.
template <typename Found>
void forEachLabelCandidate(std::string_view text, Found found) {
  std::size_t open = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      ++i;
    } else if (c == '[') {
      open = i;
    } else if (c == ']' && open != std::string_view::npos) {
      const std::string_view label = text.substr(open + 1, i - open - 1);
      open = std::string_view::npos;
      if (label.size() > kMaxLabelBytes) continue;
      if (label.find_first_of("\r\n") == std::string_view::npos) {
        found(label);
        continue;
      }
      std::string joined;
      std::string stripped;
      bool atLineStart = false;
      for (char l : label) {
        if (l == '\r' || l == '\n') {
          joined += ' ';
          stripped += ' ';
          atLineStart = true;
          continue;
        }
        joined += l;
        if (atLineStart && (l == ' ' || l == '\t' || l == '>')) continue;
        atLineStart = false;
        stripped += l;
      }
      found(joined);
      found(stripped);
    }
  }
}

class Extractor {
 public:
  Extractor(std::string_view document, std::set<std::string> definedLabels,
            int lineOffset)
      : lines_(splitLines(document)),
        definedLabels_(std::move(definedLabels)),
        lineOffset_(lineOffset) {}

  // Adds the top-level nodes of the parse of the document, in order.
  void addTopLevel(cmark_node* node) {
    for (; node != nullptr; node = cmark_node_next(node)) {
      const std::string_view type = nodeTypeName(node);
      if (cmark_node_get_type(node) == CMARK_NODE_LIST) {
        for (cmark_node* item = cmark_node_first_child(node); item != nullptr;
             item = cmark_node_next(item)) {
          add(BlockKind::kListItem, firstLineOf(item), lastLineOf(item));
        }
      } else if (type == "table") {
        addTable(node);
      } else {
        int first = firstLineOf(node);
        int last = lastLineOf(node);
        if (first < 1) {
          // A paragraph a table was cut from has lost its position (the
          // table took it over): it is the lines without a blank one that
          // end above the table's header row.
          cmark_node* next = cmark_node_next(node);
          const int floor = blocks_.empty() ? 0 : blocks_.back().lastLine;
          last = next != nullptr ? firstLineOf(next) - 1 : lineCount();
          first = last;
          while (first - 1 > floor && !isBlank(line(first - 1))) --first;
        }
        add(kindOf(node), first, last);
      }
    }
  }

  std::vector<Block> take() { return std::move(blocks_); }

 private:
  static BlockKind kindOf(cmark_node* node) {
    switch (cmark_node_get_type(node)) {
      case CMARK_NODE_PARAGRAPH:
        return BlockKind::kParagraph;
      case CMARK_NODE_HEADING:
        return BlockKind::kHeading;
      case CMARK_NODE_CODE_BLOCK:
        return BlockKind::kCode;
      case CMARK_NODE_HTML_BLOCK:
        return BlockKind::kHtml;
      case CMARK_NODE_THEMATIC_BREAK:
        return BlockKind::kThematicBreak;
      case CMARK_NODE_BLOCK_QUOTE:
        return BlockKind::kQuote;
      default:
        return BlockKind::kOther;
    }
  }

  // A node's line in the document, 0 where the parser gave none.
  [[nodiscard]] int documentLine(int parserLine) const {
    return parserLine > lineOffset_ ? parserLine - lineOffset_ : 0;
  }

  static int literalLines(cmark_node* node) {
    const char* literal = cmark_node_get_literal(node);
    const std::string_view text = literal != nullptr ? literal : "";
    const auto breaks =
        static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    return text.empty() || text.back() == '\n' ? breaks : breaks + 1;
  }

  // The table's header row is on the line above its delimiter row, which
  // is the line above its first body row, or its last line without one.
  [[nodiscard]] int tableHeaderLine(cmark_node* table) const {
    cmark_node* header = cmark_node_first_child(table);
    cmark_node* firstBody =
        header != nullptr ? cmark_node_next(header) : nullptr;
    const int delimiter =
        firstBody != nullptr
            ? documentLine(cmark_node_get_start_line(firstBody)) - 1
            : documentLine(cmark_node_get_end_line(table));
    return delimiter - 1;
  }

  [[nodiscard]] int firstLineOf(cmark_node* node) const {
    if (nodeTypeName(node) == "table") return tableHeaderLine(node);
    return documentLine(cmark_node_get_start_line(node));
  }

  // The last line of a leaf block, corrected where cmark-gfm's end line is
  // off: an HTML block, and an indented code block, end where their
  // literal's lines do (the parser ends the first before the line holding
  // its end marker, the second after the blank lines that follow it).
  [[nodiscard]] int lastLineOfLeaf(cmark_node* node) const {
    const int start = documentLine(cmark_node_get_start_line(node));
    switch (cmark_node_get_type(node)) {
      case CMARK_NODE_HTML_BLOCK:
        return start + std::max(literalLines(node), 1) - 1;
      case CMARK_NODE_CODE_BLOCK: {
        int length = 0;
        int offset = 0;
        char character = 0;
        if (cmark_node_get_fenced(node, &length, &offset, &character) == 0) {
          return start + std::max(literalLines(node), 1) - 1;
        }
        break;
      }
      default:
        break;
    }
    return documentLine(cmark_node_get_end_line(node));
  }

  // A container ends on its own last line less trailing blank lines, but
  // not before the last block inside it does.
  [[nodiscard]] int lastLineOf(cmark_node* node) const {
    cmark_node* deepest = node;
    while (cmark_node_last_child(deepest) != nullptr &&
           cmark_node_get_type(deepest) != CMARK_NODE_PARAGRAPH &&
           cmark_node_get_type(deepest) != CMARK_NODE_HEADING &&
           nodeTypeName(deepest) != "table") {
      deepest = cmark_node_last_child(deepest);
    }
    const int leafEnd = lastLineOfLeaf(deepest);
    if (deepest == node) return leafEnd;
    const int first = documentLine(cmark_node_get_start_line(node));
    int last =
        std::min(documentLine(cmark_node_get_end_line(node)), lineCount());
    while (last > first && isBlank(line(last))) --last;
    return std::max(leafEnd, last);
  }

  [[nodiscard]] int lineCount() const {
    return static_cast<int>(lines_.size());
  }
  // Line `number`, 1-based; empty past the end.
  [[nodiscard]] std::string_view line(int number) const {
    return number >= 1 && number <= lineCount() ? lines_[number - 1]
                                                : std::string_view();
  }

  void addTable(cmark_node* table) {
    const std::uint16_t columns = cmark_gfm_extensions_get_table_columns(table);
    for (cmark_node* row = cmark_node_first_child(table); row != nullptr;
         row = cmark_node_next(row)) {
      const bool header =
          cmark_gfm_extensions_get_table_row_is_header(row) != 0;
      const int number = header ? tableHeaderLine(table)
                                : documentLine(cmark_node_get_start_line(row));
      Block& block =
          add(header ? BlockKind::kTableHeaderRow : BlockKind::kTableRow,
              number, number);
      block.tableRow = true;
      block.tableHeaderRow = header;
      block.tableColumns = columns;
    }
  }

  // Adds the block of lines [first, last] (1-based), with the definitions
  // of the labels it may use.
  Block& add(BlockKind kind, int first, int last) {
    first = std::clamp(first, 1, std::max(lineCount(), 1));
    last = std::clamp(last, first, std::max(lineCount(), 1));
    Block& block = blocks_.emplace_back();
    block.kind = kind;
    block.firstLine = first;
    block.lastLine = last;
    for (int number = first; number <= last; ++number) {
      if (number > first) block.source += '\n';
      block.source += line(number);
    }
    // An empty last line (of an unclosed fence) is still a line of it.
    if (last > first && line(last).empty()) block.source += '\n';
    if (!definedLabels_.empty() && kind != BlockKind::kCode &&
        kind != BlockKind::kHtml) {
      std::set<std::string_view> used;
      forEachLabelCandidate(block.source, [&](std::string_view label) {
        const auto defined = definedLabels_.find(std::string(label));
        if (defined != definedLabels_.end() && used.insert(*defined).second) {
          block.definitions += '[';
          block.definitions += *defined;
          block.definitions += "]: #\n";
        }
      });
    }
    return block;
  }

  std::vector<std::string_view> lines_;
  std::set<std::string> definedLabels_;
  int lineOffset_;
  std::vector<Block> blocks_;
};

}  // namespace

std::string_view blockKindName(BlockKind kind) {
  switch (kind) {
    case BlockKind::kParagraph:
      return "paragraph";
    case BlockKind::kHeading:
      return "heading";
    case BlockKind::kCode:
      return "code";
    case BlockKind::kHtml:
      return "html";
    case BlockKind::kThematicBreak:
      return "thematic-break";
    case BlockKind::kQuote:
      return "quote";
    case BlockKind::kListItem:
      return "list-item";
    case BlockKind::kTableHeaderRow:
      return "table-header";
    case BlockKind::kTableRow:
      return "table-row";
    case BlockKind::kOther:
      break;
  }
  return "other";
}

// Which labels the document defines is learnt from the parser itself: each
// text that could be a label is put before the document as a paragraph of
// its own, "[text]", followed by a blank line, and becomes a link exactly
// when the document defines it. The document is parsed once, with them.
std::vector<Block> extractBlocks(std::string_view document) {
  if (document.starts_with(kByteOrderMark)) {
    document.remove_prefix(kByteOrderMark.size());
  }
  std::vector<std::string> candidates;
  std::set<std::string> seen;
  forEachLabelCandidate(document, [&](std::string_view label) {
    if (label.find_first_not_of(" \t") == std::string_view::npos) return;
    if (seen.emplace(label).second) candidates.emplace_back(label);
  });
  std::string text;
  for (const std::string& candidate : candidates) {
    text += '[';
    text += candidate;
    text += "]\n\n";
  }
  const int probeLines = static_cast<int>(2 * candidates.size());
  text += document;
  const ParsedMarkdown root = parseMarkdown(text, /*github=*/true);

  std::set<std::string> defined;
  cmark_node* node = cmark_node_first_child(root.get());
  for (; node != nullptr && cmark_node_get_start_line(node) >= 1 &&
         cmark_node_get_start_line(node) <= probeLines;
       node = cmark_node_next(node)) {
    const int line = cmark_node_get_start_line(node);
    cmark_node* link = cmark_node_first_child(node);
    if (line % 2 == 1 && link != nullptr && cmark_node_next(link) == nullptr &&
        cmark_node_get_type(link) == CMARK_NODE_LINK) {
      defined.insert(candidates[static_cast<std::size_t>(line / 2)]);
    }
  }
  Extractor extractor(document, std::move(defined), probeLines);
  extractor.addTopLevel(node);
  return extractor.take();
}

}  // namespace morvane::vesk::markdown_layout
