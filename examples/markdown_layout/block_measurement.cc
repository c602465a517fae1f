#include "examples/markdown_layout/block_measurement.h"

#include <cmark-gfm-core-extensions.h>

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/line_breaking.h"
#include "examples/markdown_layout/markdown_parsing.h"

namespace morvane::vesk::markdown_layout {
namespace {

constexpr double kListIndent = 24.0;   // px before a list item's content
constexpr double kQuoteIndent = 16.0;  // px before a block quote's content
constexpr double kCellPadding = 6.0;   // px on each side of a table cell
constexpr int kTabWidth = 4;           // spaces per tab in code
// Heading sizes as multiples of the body font size, levels 1 to 6.
constexpr std::array<double, 6> kHeadingScale{2.0, 1.5, 1.25, 1.0, 0.875, 0.85};

struct Size {
  double width = 0.0;
  double height = 0.0;
};

struct InlineStyle {
  bool bold = false;
  bool oblique = false;
  bool monospace = false;

  bool operator==(const InlineStyle&) const = default;
};

// A stretch of inline text in one style, or a hard line break.
struct Run {
  std::string text;
  InlineStyle style;
  bool hardBreak = false;
};

// A container block being measured: its children are stacked below each
// other, then the whole is indented.
struct OpenContainer {
  cmark_node* node;
  cmark_node* nextChild;
  double width;   // available to the children
  double indent;  // added to the width of what the children need
  bool atLeastOneLine;
  Size children;
};

// Hands clusters on to the line breaker and keeps the largest batch.
class BatchCounter final : public ClusterSink {
 public:
  explicit BatchCounter(LineBreaker& breaker) : breaker_(breaker) {}
  void take(std::span<const Cluster> clusters) override {
    largest_ = std::max(largest_, clusters.size());
    breaker_.take(clusters);
  }
  [[nodiscard]] std::size_t largest() const { return largest_; }

 private:
  LineBreaker& breaker_;
  std::size_t largest_ = 0;
};

class Measurer {
 public:
  Measurer(const MeasurementCacheKey& key, TextShaper& shaper,
           MeasurementWork& work)
      : key_(key), shaper_(shaper), work_(work) {
    namespace f = key_field;
    fontSize_ = key.*f::kFontSize;
    lineSpacing_ = key.*f::kLineSpacing;
    kerning_ = key.*f::kKerning;
  }

  CachedSize measure() {
    namespace f = key_field;
    const double maxWidth = key_.*f::kMaxWidth;
    const Size size =
        key_.*f::kTableRow
            ? measureTableRowSource(maxWidth)
            : measureDocument(parse(key_.*f::kSource).get(), maxWidth);
    return CachedSize{size.width, size.height};
  }

 private:
  ParsedMarkdown parse(std::string_view text) {
    work_.parsedBytes += text.size();
    return parseMarkdown(text,
                         key_.*key_field::kFlavor == MarkdownFlavor::kGitHub);
  }

  // The key's source is the reference definitions its row uses, then the
  // row, one line. A row parses as a row only under a header and a
  // delimiter row: give it an empty header of as many columns as the row
  // can have cells (at most one more than its pipes), so that parsing costs
  // what the row costs, and count the table's further columns as the empty
  // cells they are.
  Size measureTableRowSource(double width) {
    namespace f = key_field;
    const std::string& source = key_.*f::kSource;
    const std::size_t lastLineEnd = source.find_last_of("\r\n");
    const std::size_t rowStart =
        lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1;
    const std::string_view row = std::string_view(source).substr(rowStart);
    const std::size_t columns = key_.*f::kTableColumns;
    const std::size_t parsedColumns = std::clamp<std::size_t>(
        static_cast<std::size_t>(std::count(row.begin(), row.end(), '|')) + 1,
        1, std::max<std::size_t>(columns, 1));
    std::string text(source, 0, rowStart);
    for (std::size_t i = 0; i < parsedColumns; ++i) text += "| ";
    text += "|\n";
    for (std::size_t i = 0; i < parsedColumns; ++i) text += "|-";
    text += "|\n";
    text += row;
    const ParsedMarkdown root = parse(text);
    cmark_node* table = cmark_node_last_child(root.get());
    if (table == nullptr || nodeTypeName(table) != "table") {
      return measureDocument(root.get(), width);
    }
    return measureRow(cmark_node_last_child(table), width,
                      key_.*f::kTableHeaderRow, columns);
  }

  // The blocks of a document stacked vertically. Containers nest as deep as
  // the source does, so they are kept on a heap stack, not the call stack.
  Size measureDocument(cmark_node* root, double width) {
    std::vector<OpenContainer> open;
    open.push_back(OpenContainer{root, cmark_node_first_child(root), width, 0.0,
                                 false, Size{}});
    for (;;) {
      OpenContainer& top = open.back();
      cmark_node* node = top.nextChild;
      if (node == nullptr) {
        Size size = top.children;
        size.width += top.indent;
        if (top.atLeastOneLine && size.height == 0.0) {
          size.height = lineHeight(InlineStyle{}, fontSize_);
        }
        cmark_node* finished = top.node;
        open.pop_back();
        if (open.empty()) return size;
        stack(open.back(), finished, size);
        continue;
      }
      top.nextChild = cmark_node_next(node);
      const double available = top.width;
      switch (cmark_node_get_type(node)) {
        case CMARK_NODE_BLOCK_QUOTE:
          open.push_back(OpenContainer{node, cmark_node_first_child(node),
                                       available - kQuoteIndent, kQuoteIndent,
                                       true, Size{}});
          break;
        case CMARK_NODE_ITEM:
          open.push_back(OpenContainer{node, cmark_node_first_child(node),
                                       available - kListIndent, kListIndent,
                                       true, Size{}});
          break;
        default:
          if (isLeaf(node)) {
            stack(top, node, measureLeaf(node, available));
          } else {  // lists and any other container
            open.push_back(OpenContainer{node, cmark_node_first_child(node),
                                         available, 0.0, false, Size{}});
          }
          break;
      }
    }
  }

  // Adds `child`'s size below the children of `parent` measured so far.
  void stack(OpenContainer& parent, cmark_node* child, Size size) const {
    if (child != cmark_node_first_child(parent.node)) {
      parent.children.height += gap();
    }
    parent.children.width = std::max(parent.children.width, size.width);
    parent.children.height += size.height;
  }

  static bool isLeaf(cmark_node* node) {
    switch (cmark_node_get_type(node)) {
      case CMARK_NODE_PARAGRAPH:
      case CMARK_NODE_HEADING:
      case CMARK_NODE_CODE_BLOCK:
      case CMARK_NODE_HTML_BLOCK:
      case CMARK_NODE_THEMATIC_BREAK:
        return true;
      default:
        return nodeTypeName(node) == "table";
    }
  }

  Size measureLeaf(cmark_node* node, double width) {
    switch (cmark_node_get_type(node)) {
      case CMARK_NODE_PARAGRAPH:
        return measureInlines(node, width, InlineStyle{}, fontSize_);
      case CMARK_NODE_HEADING: {
        const double scale = kHeadingScale[static_cast<std::size_t>(
            std::clamp(cmark_node_get_heading_level(node), 1, 6) - 1)];
        return measureInlines(node, width, InlineStyle{.bold = true},
                              fontSize_ * scale);
      }
      case CMARK_NODE_CODE_BLOCK:
      case CMARK_NODE_HTML_BLOCK:
        return measureLiteral(cmark_node_get_literal(node), width);
      case CMARK_NODE_THEMATIC_BREAK:
        return Size{width, lineHeight(InlineStyle{}, fontSize_)};
      default:
        return measureTable(node, width);
    }
  }

  Size measureTable(cmark_node* table, double width) {
    const std::size_t columns = cmark_gfm_extensions_get_table_columns(table);
    Size total;
    for (cmark_node* row = cmark_node_first_child(table); row != nullptr;
         row = cmark_node_next(row)) {
      const Size size = measureRow(
          row, width, cmark_gfm_extensions_get_table_row_is_header(row) != 0,
          columns);
      total.width = std::max(total.width, size.width);
      total.height += size.height;
    }
    return total;
  }

  // Each of the table's `columns` gets an equal share of the width; cells
  // the row lacks are empty. The row is as tall as its tallest cell and as
  // wide as its cells' content plus padding.
  Size measureRow(cmark_node* row, double width, bool header,
                  std::size_t columns) {
    std::size_t cells = 0;
    for (cmark_node* cell = cmark_node_first_child(row); cell != nullptr;
         cell = cmark_node_next(cell)) {
      ++cells;
    }
    columns = std::max(columns, cells);
    if (columns == 0) return Size{0.0, lineHeight(InlineStyle{}, fontSize_)};
    const double cellWidth =
        width / static_cast<double>(columns) - 2 * kCellPadding;
    const InlineStyle style{.bold = header};
    Size total;
    const auto add = [&](Size cell) {
      total.width += cell.width + 2 * kCellPadding;
      total.height = std::max(total.height, cell.height + 2 * kCellPadding);
    };
    for (cmark_node* cell = cmark_node_first_child(row); cell != nullptr;
         cell = cmark_node_next(cell)) {
      add(measureInlines(cell, cellWidth, style, fontSize_));
    }
    if (cells < columns) {
      runs_.clear();
      const Size empty = layOutRuns(cellWidth, fontSize_);
      for (std::size_t i = cells; i < columns; ++i) add(empty);
    }
    return total;
  }

  Size measureInlines(cmark_node* block, double width, InlineStyle base,
                      double size) {
    runs_.clear();
    collectRuns(block, base);
    return layOutRuns(width, size);
  }

  // Code and HTML: monospace, every newline a hard break, tabs expanded.
  // The literal's last newline ends its last line; it starts no new one.
  Size measureLiteral(const char* literal, double width) {
    runs_.clear();
    std::string_view text = literal != nullptr ? literal : "";
    if (text.ends_with('\n')) text.remove_suffix(1);
    const InlineStyle mono{.monospace = true};
    std::string line;
    for (char c : text) {
      if (c == '\n') {
        runs_.push_back(Run{line, mono, false});
        runs_.push_back(Run{{}, mono, true});
        line.clear();
      } else if (c == '\t') {
        line.append(kTabWidth, ' ');
      } else {
        line += c;
      }
    }
    runs_.push_back(Run{line, mono, false});
    return layOutRuns(width, fontSize_);
  }

  // Text joins the previous run only when both are in the same style: each
  // run is shaped in the face of its own style.
  void appendText(std::string_view text, InlineStyle style) {
    if (!runs_.empty() && !runs_.back().hardBreak &&
        runs_.back().style == style) {
      runs_.back().text += text;
    } else {
      runs_.push_back(Run{std::string(text), style, false});
    }
  }

  // The inline content of `block` as runs, in document order. Inline
  // containers (emphasis, links, strikethrough...) nest as deep as the
  // source does: the walk follows the tree's own links, and the styles of
  // the containers it is inside are kept on a heap stack.
  void collectRuns(cmark_node* block, InlineStyle base) {
    styles_.assign(1, base);
    cmark_node* node = cmark_node_first_child(block);
    while (node != nullptr) {
      const InlineStyle style = styles_.back();
      const char* literal = cmark_node_get_literal(node);
      cmark_node* descend = nullptr;
      switch (cmark_node_get_type(node)) {
        case CMARK_NODE_TEXT:
        case CMARK_NODE_HTML_INLINE:
          appendText(literal != nullptr ? literal : "", style);
          break;
        case CMARK_NODE_CODE: {
          InlineStyle code = style;
          code.monospace = true;
          appendText(literal != nullptr ? literal : "", code);
          break;
        }
        case CMARK_NODE_SOFTBREAK:
          appendText(" ", style);
          break;
        case CMARK_NODE_LINEBREAK:
          runs_.push_back(Run{{}, style, true});
          break;
        case CMARK_NODE_EMPH: {
          InlineStyle emphasis = style;
          emphasis.oblique = true;
          styles_.push_back(emphasis);
          descend = node;
          break;
        }
        case CMARK_NODE_STRONG: {
          InlineStyle strong = style;
          strong.bold = true;
          styles_.push_back(strong);
          descend = node;
          break;
        }
        default:  // links, images (their alt text), strikethrough, ...
          styles_.push_back(style);
          descend = node;
          break;
      }
      if (descend != nullptr && cmark_node_first_child(descend) != nullptr) {
        node = cmark_node_first_child(descend);
        continue;
      }
      if (descend != nullptr) styles_.pop_back();
      // On to the next node in document order: the next sibling of this
      // node or of the nearest container it closes.
      while (cmark_node_next(node) == nullptr) {
        node = cmark_node_parent(node);
        if (node == block || node == nullptr) return;
        styles_.pop_back();
      }
      node = cmark_node_next(node);
    }
  }

  [[nodiscard]] const std::string& fontFile(InlineStyle style) const {
    namespace f = key_field;
    if (style.monospace) return key_.*f::kMonospaceFont;
    if (style.bold && style.oblique) return key_.*f::kBoldObliqueFont;
    if (style.bold) return key_.*f::kBoldFont;
    if (style.oblique) return key_.*f::kObliqueFont;
    return key_.*f::kRegularFont;
  }

  double lineHeight(InlineStyle style, double size) {
    return shaper_.lineHeight(fontFile(style), size) * lineSpacing_;
  }

  // The runs' clusters go to the line breaker as each piece is shaped, so
  // that a block's clusters are never all held at once.
  Size layOutRuns(double width, double size) {
    ++work_.inlineLayouts;
    LineBreaker breaker(width, lineHeight(InlineStyle{}, size));
    BatchCounter batches(breaker);
    for (const Run& run : runs_) {
      if (run.hardBreak) {
        const Cluster brk{0.0, lineHeight(run.style, size),
                          ClusterKind::kHardBreak};
        batches.take(std::span<const Cluster>(&brk, 1));
      } else {
        shaper_.shape(run.text, fontFile(run.style), size, lineSpacing_,
                      kerning_, batches);
      }
    }
    const LineBreaks lines = breaker.finish();
    work_.heldClusters = std::max(
        work_.heldClusters, batches.largest() + breaker.largestHeldWord());
    return Size{lines.widestLine, lines.height};
  }

  [[nodiscard]] double gap() const { return fontSize_ / 2; }

  const MeasurementCacheKey& key_;
  TextShaper& shaper_;
  MeasurementWork& work_;
  double fontSize_ = 0.0;
  double lineSpacing_ = 0.0;
  bool kerning_ = true;
  std::vector<Run> runs_;
  std::vector<InlineStyle> styles_;  // of the inline containers entered
};

}  // namespace

CachedSize measureBlock(const MeasurementCacheKey& key, TextShaper& shaper,
                        MeasurementWork* work) {
  MeasurementWork ignored;
  return Measurer(key, shaper, work != nullptr ? *work : ignored).measure();
}

}  // namespace morvane::vesk::markdown_layout
