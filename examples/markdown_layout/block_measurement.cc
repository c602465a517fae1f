#include "examples/markdown_layout/block_measurement.h"

#include <cmark-gfm-core-extensions.h>

#include <algorithm>
#include <array>
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
};

// A stretch of inline text in one style, or a hard line break.
struct Run {
  std::string text;
  InlineStyle style;
  bool hardBreak = false;
};

class Measurer {
 public:
  Measurer(const MeasurementCacheKey& key, TextShaper& shaper)
      : key_(key), shaper_(shaper) {
    namespace f = key_field;
    fontSize_ = key.*f::kFontSize;
    lineSpacing_ = key.*f::kLineSpacing;
    kerning_ = key.*f::kKerning;
  }

  CachedSize measure() {
    namespace f = key_field;
    const bool github = key_.*f::kFlavor == MarkdownFlavor::kGitHub;
    const double maxWidth = key_.*f::kMaxWidth;
    if (key_.*f::kTableRow) {
      // A row parses as a row only under a header and a delimiter row: give
      // it an empty header of the table's column count and measure it.
      const std::uint64_t columns = key_.*f::kTableColumns;
      std::string text;
      for (std::uint64_t i = 0; i < columns; ++i) text += "| ";
      text += "|\n";
      for (std::uint64_t i = 0; i < columns; ++i) text += "|-";
      text += "|\n";
      text += key_.*f::kSource;
      const ParsedMarkdown root = parseMarkdown(text, github);
      cmark_node* table = cmark_node_first_child(root.get());
      if (table != nullptr && nodeTypeName(table) == "table") {
        const Size row = measureRow(cmark_node_last_child(table), maxWidth,
                                    key_.*f::kTableHeaderRow);
        return CachedSize{row.width, row.height};
      }
      const Size size = measureChildren(root.get(), maxWidth);
      return CachedSize{size.width, size.height};
    }
    const ParsedMarkdown root = parseMarkdown(key_.*f::kSource, github);
    const Size size = measureChildren(root.get(), maxWidth);
    return CachedSize{size.width, size.height};
  }

 private:
  // The children of `parent` stacked vertically.
  Size measureChildren(cmark_node* parent, double width) {
    Size total;
    for (cmark_node* child = cmark_node_first_child(parent); child != nullptr;
         child = cmark_node_next(child)) {
      const Size size = measureNode(child, width);
      if (child != cmark_node_first_child(parent)) total.height += gap();
      total.width = std::max(total.width, size.width);
      total.height += size.height;
    }
    return total;
  }

  Size measureNode(cmark_node* node, double width) {
    switch (cmark_node_get_type(node)) {
      case CMARK_NODE_PARAGRAPH:
        return measureInlines(node, width, InlineStyle{}, fontSize_);
      case CMARK_NODE_HEADING: {
        const std::int32_t keyLevel = key_.*key_field::kHeadingLevel;
        const int level =
            keyLevel > 0 ? keyLevel : cmark_node_get_heading_level(node);
        const double scale = kHeadingScale[static_cast<std::size_t>(
            std::clamp(level, 1, 6) - 1)];
        return measureInlines(node, width, InlineStyle{.bold = true},
                              fontSize_ * scale);
      }
      case CMARK_NODE_CODE_BLOCK:
      case CMARK_NODE_HTML_BLOCK:
        return measureLiteral(cmark_node_get_literal(node), width);
      case CMARK_NODE_THEMATIC_BREAK:
        return Size{width, lineHeight(InlineStyle{}, fontSize_)};
      case CMARK_NODE_BLOCK_QUOTE:
        return indented(node, width, kQuoteIndent);
      case CMARK_NODE_ITEM:
        return indented(node, width, kListIndent);
      default:
        break;
    }
    const std::string_view type = nodeTypeName(node);
    if (type == "table") return measureTable(node, width);
    return measureChildren(node, width);
  }

  Size indented(cmark_node* node, double width, double indent) {
    Size size = measureChildren(node, width - indent);
    size.width += indent;
    if (size.height == 0.0) size.height = lineHeight(InlineStyle{}, fontSize_);
    return size;
  }

  Size measureTable(cmark_node* table, double width) {
    Size total;
    for (cmark_node* row = cmark_node_first_child(table); row != nullptr;
         row = cmark_node_next(row)) {
      const Size size = measureRow(
          row, width, cmark_gfm_extensions_get_table_row_is_header(row) != 0);
      total.width = std::max(total.width, size.width);
      total.height += size.height;
    }
    return total;
  }

  // Cells get equal shares of the width; the row is as tall as its tallest
  // cell and as wide as its cells' content plus padding.
  Size measureRow(cmark_node* row, double width, bool header) {
    std::size_t cells = 0;
    for (cmark_node* cell = cmark_node_first_child(row); cell != nullptr;
         cell = cmark_node_next(cell)) {
      ++cells;
    }
    Size total;
    if (cells == 0) return Size{0.0, lineHeight(InlineStyle{}, fontSize_)};
    const double cellWidth =
        width / static_cast<double>(cells) - 2 * kCellPadding;
    for (cmark_node* cell = cmark_node_first_child(row); cell != nullptr;
         cell = cmark_node_next(cell)) {
      const Size size = measureInlines(cell, cellWidth,
                                       InlineStyle{.bold = header}, fontSize_);
      total.width += size.width + 2 * kCellPadding;
      total.height = std::max(total.height, size.height + 2 * kCellPadding);
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

  void appendText(std::string_view text, InlineStyle style) {
    if (!runs_.empty() && !runs_.back().hardBreak &&
        runs_.back().style.bold == style.bold &&
        runs_.back().style.oblique == style.oblique &&
        runs_.back().style.monospace == style.monospace) {
      runs_.back().text += text;
    } else {
      runs_.push_back(Run{std::string(text), style, false});
    }
  }

  void collectRuns(cmark_node* parent, InlineStyle style) {
    for (cmark_node* node = cmark_node_first_child(parent); node != nullptr;
         node = cmark_node_next(node)) {
      const char* literal = cmark_node_get_literal(node);
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
          collectRuns(node, emphasis);
          break;
        }
        case CMARK_NODE_STRONG: {
          InlineStyle strong = style;
          strong.bold = true;
          collectRuns(node, strong);
          break;
        }
        default:  // links, images (their alt text), strikethrough, ...
          collectRuns(node, style);
          break;
      }
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

  Size layOutRuns(double width, double size) {
    clusters_.clear();
    for (const Run& run : runs_) {
      if (run.hardBreak) {
        clusters_.push_back(
            Cluster{0.0, lineHeight(run.style, size), ClusterKind::kHardBreak});
      } else {
        shaper_.shape(run.text, fontFile(run.style), size, lineSpacing_,
                      kerning_, clusters_);
      }
    }
    const LineBreaks lines =
        breakLines(clusters_, width, lineHeight(InlineStyle{}, size));
    return Size{lines.widestLine, lines.height};
  }

  [[nodiscard]] double gap() const { return fontSize_ / 2; }

  const MeasurementCacheKey& key_;
  TextShaper& shaper_;
  double fontSize_ = 0.0;
  double lineSpacing_ = 0.0;
  bool kerning_ = true;
  std::vector<Run> runs_;
  std::vector<Cluster> clusters_;
};

}  // namespace

CachedSize measureBlock(const MeasurementCacheKey& key, TextShaper& shaper) {
  return Measurer(key, shaper).measure();
}

}  // namespace morvane::vesk::markdown_layout
