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

  // Adds the top-level nodes of the parse of the document, in order. Each
  // block ends at the latest on the line before the next node opens: the
  // parser's own end line is one too late for a leaf it closes only on
  // reading the next line (a setext heading, a fence in a container that
  // a lazy line ends).
  void addTopLevel(cmark_node* node) {
    std::vector<cmark_node*> nodes;
    for (; node != nullptr; node = cmark_node_next(node)) nodes.push_back(node);
    std::vector<int> opening(nodes.size(), 0);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      opening[i] = openingLine(nodes[i],
                               i + 1 < nodes.size() ? nodes[i + 1] : nullptr);
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      int bound = lineCount();
      for (std::size_t j = i + 1; j < nodes.size(); ++j) {
        if (opening[j] >= 1) {
          bound = opening[j] - 1;
          break;
        }
      }
      addNode(nodes[i], opening[i], bound);
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

  static bool isTable(cmark_node* node) {
    return nodeTypeName(node) == "table";
  }

  static bool isFenced(cmark_node* node) {
    int length = 0;
    int offset = 0;
    char character = 0;
    return cmark_node_get_type(node) == CMARK_NODE_CODE_BLOCK &&
           cmark_node_get_fenced(node, &length, &offset, &character) != 0;
  }

  // Lines of `text`, each ended by "\n", "\r\n" or a lone "\r", the last
  // one possibly by nothing.
  static int countLines(std::string_view text) {
    int lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' ||
          (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
        ++lines;
      }
    }
    if (!text.empty() && text.back() != '\n' && text.back() != '\r') ++lines;
    return lines;
  }

  static int literalLines(cmark_node* node) {
    const char* literal = cmark_node_get_literal(node);
    return countLines(literal != nullptr ? literal : "");
  }

  // The lines of a paragraph's or heading's text, without the link
  // reference definitions the parser took from its start.
  static int contentLines(cmark_node* node) {
    const char* content = cmark_node_get_string_content(node);
    return std::max(countLines(content != nullptr ? content : ""), 1);
  }

  // The lines a paragraph draws. The paragraph a table took its header row
  // from has no position and keeps the link reference definitions at its
  // start in its text; parsed alone, that text loses them. 0 if it is
  // nothing but definitions.
  [[nodiscard]] int paragraphLines(cmark_node* paragraph) const {
    if (startLine(paragraph) >= 1) return contentLines(paragraph);
    const char* content = cmark_node_get_string_content(paragraph);
    const ParsedMarkdown alone =
        parseBlockStructure(content != nullptr ? content : "");
    cmark_node* first = cmark_node_first_child(alone.get());
    return first != nullptr &&
                   cmark_node_get_type(first) == CMARK_NODE_PARAGRAPH
               ? contentLines(first)
               : 0;
  }

  // A node's line in the document, 0 where the parser gave none.
  [[nodiscard]] int documentLine(int parserLine) const {
    return parserLine > lineOffset_ ? parserLine - lineOffset_ : 0;
  }
  [[nodiscard]] int startLine(cmark_node* node) const {
    return documentLine(cmark_node_get_start_line(node));
  }
  [[nodiscard]] int endLine(cmark_node* node) const {
    return std::min(documentLine(cmark_node_get_end_line(node)), lineCount());
  }

  // The line a top-level node opens on: no later than its first line, and
  // after every line of the blocks before it; 0 if unknown. The paragraph
  // a table took its header row from has lost its position (and the block
  // before it may end too late): its lines are the ones right above that
  // header row, as many as its text has.
  [[nodiscard]] int openingLine(cmark_node* node, cmark_node* next) const {
    if (isTable(node)) return tableHeaderLine(node);
    const int start = startLine(node);
    if (start >= 1 || cmark_node_get_type(node) != CMARK_NODE_PARAGRAPH ||
        next == nullptr || !isTable(next)) {
      return start;
    }
    const int lines = paragraphLines(node);
    const int first = tableHeaderLine(next) - lines;
    return lines >= 1 && first >= 1 ? first : 0;
  }

  // The table's header row is on the line above its delimiter row, which
  // is the line above its first body row, or its last line without one.
  [[nodiscard]] int tableHeaderLine(cmark_node* table) const {
    cmark_node* header = cmark_node_first_child(table);
    cmark_node* firstBody =
        header != nullptr ? cmark_node_next(header) : nullptr;
    const int delimiter =
        firstBody != nullptr ? startLine(firstBody) - 1 : endLine(table);
    return delimiter - 1;
  }

  // `line` is an ATX heading's: up to three spaces, one to six '#', then a
  // space, a tab or the line's end.
  static bool isAtxHeadingLine(std::string_view line) {
    const std::size_t hashes = line.find_first_not_of(' ');
    if (hashes == std::string_view::npos || hashes > 3) return false;
    const std::size_t after = line.find_first_not_of('#', hashes);
    const std::size_t count =
        (after == std::string_view::npos ? line.size() : after) - hashes;
    return count >= 1 && count <= 6 &&
           (after == std::string_view::npos || line[after] == ' ' ||
            line[after] == '\t');
  }

  // The first setext heading underline in lines [first, last]: up to three
  // spaces, a run of '=' or of '-', then spaces or tabs only. The parser
  // may end the heading a line after it. `last` if there is none.
  [[nodiscard]] int setextUnderline(int first, int last) const {
    for (int number = first; number < last; ++number) {
      const std::string_view text = line(number);
      const std::size_t mark = text.find_first_not_of(' ');
      if (mark == std::string_view::npos || mark > 3 ||
          (text[mark] != '=' && text[mark] != '-')) {
        continue;
      }
      const std::size_t after = text.find_first_not_of(text[mark], mark);
      if (after == std::string_view::npos ||
          text.find_first_not_of(" \t", after) == std::string_view::npos) {
        return number;
      }
    }
    return last;
  }

  // Adds the block or blocks of one top-level node, which opens on line
  // `opening` (0 if unknown) and ends on line `bound` at the latest.
  void addNode(cmark_node* node, int opening, int bound) {
    const int floor = blocks_.empty() ? 0 : blocks_.back().lastLine;
    if (cmark_node_get_type(node) == CMARK_NODE_LIST) {
      for (cmark_node* item = cmark_node_first_child(node); item != nullptr;
           item = cmark_node_next(item)) {
        cmark_node* next = cmark_node_next(item);
        const int itemBound = next != nullptr ? startLine(next) - 1 : bound;
        const int first = startLine(item);
        add(BlockKind::kListItem, first, containerLastLine(item, itemBound));
      }
      return;
    }
    if (isTable(node)) {
      addTable(node);
      return;
    }
    const int start = opening >= 1 ? opening : startLine(node);
    int first = start;
    int last = std::min(endLine(node), bound);
    switch (cmark_node_get_type(node)) {
      case CMARK_NODE_BLOCK_QUOTE:
        last = containerLastLine(node, bound);
        break;
      case CMARK_NODE_PARAGRAPH:
        // The definitions the parser took from the paragraph's start are
        // lines of no block; a paragraph a table was cut from has lost its
        // position and ends above the table's header row.
        if (startLine(node) < 1) {
          if (opening < 1) return;  // nothing but definitions
          last = bound;
        }
        last = trimBlankLines(std::max(start, floor + 1), last);
        first = last - paragraphLines(node) + 1;
        break;
      case CMARK_NODE_HEADING:
        if (isAtxHeadingLine(line(start))) {
          last = start;
        } else {  // setext: the text's lines, then the underline
          last = setextUnderline(start, trimBlankLines(start, last));
          first = last - contentLines(node);
        }
        break;
      case CMARK_NODE_HTML_BLOCK:
        // The parser ends it before the line holding its end marker.
        last = std::min(start + std::max(literalLines(node), 1) - 1, bound);
        break;
      case CMARK_NODE_CODE_BLOCK:
        // Indented code ends where its literal does (the parser ends it
        // after the blank lines that follow); every line of a fenced one,
        // blank or not, up to its closing fence or the end, is its own.
        if (!isFenced(node)) {
          last = std::min(start + std::max(literalLines(node), 1) - 1, bound);
        }
        break;
      case CMARK_NODE_THEMATIC_BREAK:
        last = start;
        break;
      default:
        last = trimBlankLines(start, last);
        break;
    }
    add(kindOf(node), std::max(first, floor + 1), last);
  }

  // `last`, less the blank lines that end the range [first, last].
  [[nodiscard]] int trimBlankLines(int first, int last) const {
    while (last > first && isBlank(line(last))) --last;
    return last;
  }

  // A container ends on its own last line, or on `bound`, less trailing
  // blank lines, except those of a fenced code block that ends it (the
  // fence holds them until its closing fence or the container's end).
  [[nodiscard]] int containerLastLine(cmark_node* container, int bound) const {
    const int last = std::min(endLine(container), bound);
    cmark_node* deepest = container;
    while (cmark_node_last_child(deepest) != nullptr &&
           cmark_node_get_type(deepest) != CMARK_NODE_PARAGRAPH &&
           cmark_node_get_type(deepest) != CMARK_NODE_HEADING &&
           !isTable(deepest)) {
      deepest = cmark_node_last_child(deepest);
    }
    int keep = startLine(container);
    if (deepest != container && isFenced(deepest)) {
      keep = std::max(keep, std::min(endLine(deepest), last));
    }
    return trimBlankLines(keep, last);
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
      const int number = header ? tableHeaderLine(table) : startLine(row);
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

namespace {

// Which labels the document defines is learnt from the parser itself: each
// text that could be a label is put before the document as a paragraph of
// its own, "[text]", followed by a blank line, and becomes a link exactly
// when the document defines it. The document is parsed once, after them.
struct LabelProbes {
  std::vector<std::string> candidates;  // candidate i is on line 2 * i + 1
  std::string text;                     // what goes before the document
};

LabelProbes labelProbes(std::string_view document) {
  LabelProbes probes;
  std::set<std::string> seen;
  forEachLabelCandidate(document, [&](std::string_view label) {
    if (label.find_first_not_of(" \t") == std::string_view::npos) return;
    if (seen.emplace(label).second) probes.candidates.emplace_back(label);
  });
  for (const std::string& candidate : probes.candidates) {
    probes.text += '[';
    probes.text += candidate;
    probes.text += "]\n\n";
  }
  return probes;
}

std::string_view withoutByteOrderMark(std::string_view document) {
  if (document.starts_with(kByteOrderMark)) {
    document.remove_prefix(kByteOrderMark.size());
  }
  return document;
}

}  // namespace

std::size_t extractionMarkup(std::string_view document) {
  document = withoutByteOrderMark(document);
  return markupCharacters(labelProbes(document).text) +
         markupCharacters(document);
}

std::vector<Block> extractBlocks(std::string_view document) {
  document = withoutByteOrderMark(document);
  const LabelProbes probes = labelProbes(document);
  const int probeLines = static_cast<int>(2 * probes.candidates.size());
  const ParsedMarkdown root = parseBlockStructure(document, probes.text);

  std::set<std::string> defined;
  cmark_node* node = cmark_node_first_child(root.get());
  for (; node != nullptr && cmark_node_get_start_line(node) >= 1 &&
         cmark_node_get_start_line(node) <= probeLines;
       node = cmark_node_next(node)) {
    const int line = cmark_node_get_start_line(node);
    cmark_node* link = cmark_node_first_child(node);
    if (line % 2 == 1 && link != nullptr && cmark_node_next(link) == nullptr &&
        cmark_node_get_type(link) == CMARK_NODE_LINK) {
      defined.insert(probes.candidates[static_cast<std::size_t>(line / 2)]);
    }
  }
  Extractor extractor(document, std::move(defined), probeLines);
  extractor.addTopLevel(node);
  return extractor.take();
}

}  // namespace morvane::vesk::markdown_layout
