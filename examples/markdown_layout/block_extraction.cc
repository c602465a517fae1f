#include "examples/markdown_layout/block_extraction.h"

#include <cmark-gfm-core-extensions.h>

#include <string_view>
#include <vector>

#include "examples/markdown_layout/markdown_parsing.h"

namespace morvane::vesk::markdown_layout {
namespace {

// The document's lines, without their line terminators.
std::vector<std::string_view> splitLines(std::string_view document) {
  std::vector<std::string_view> lines;
  while (!document.empty()) {
    const std::size_t end = document.find('\n');
    if (end == std::string_view::npos) {
      lines.push_back(document);
      break;
    }
    lines.push_back(document.substr(0, end));
    document.remove_prefix(end + 1);
  }
  return lines;
}

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

class Extractor {
 public:
  explicit Extractor(std::string_view document)
      : lines_(splitLines(document)) {}

  // Adds the block of source lines [first, last] (1-based), without
  // trailing blank lines.
  Block& add(int first, int last) {
    Block& block = blocks_.emplace_back();
    block.firstLine = first;
    if (first < 1) return block;
    int end = last;
    if (end > static_cast<int>(lines_.size())) {
      end = static_cast<int>(lines_.size());
    }
    while (end > first && isBlank(lines_[end - 1])) --end;
    for (int line = first; line <= end; ++line) {
      if (line > first) block.source += '\n';
      block.source += lines_[line - 1];
    }
    return block;
  }

  void addNode(cmark_node* node) {
    Block& block =
        add(cmark_node_get_start_line(node), cmark_node_get_end_line(node));
    if (cmark_node_get_type(node) == CMARK_NODE_HEADING) {
      block.headingLevel = cmark_node_get_heading_level(node);
    }
  }

  void addTopLevel(cmark_node* node) {
    if (cmark_node_get_type(node) == CMARK_NODE_LIST) {
      for (cmark_node* item = cmark_node_first_child(node); item != nullptr;
           item = cmark_node_next(item)) {
        addNode(item);
      }
    } else if (nodeTypeName(node) == "table") {
      const std::uint16_t columns =
          cmark_gfm_extensions_get_table_columns(node);
      for (cmark_node* row = cmark_node_first_child(node); row != nullptr;
           row = cmark_node_next(row)) {
        const int line = cmark_node_get_start_line(row);
        Block& block = add(line, line);
        block.tableRow = true;
        block.tableHeaderRow =
            cmark_gfm_extensions_get_table_row_is_header(row) != 0;
        block.tableColumns = columns;
      }
    } else {
      addNode(node);
    }
  }

  std::vector<Block> take() { return std::move(blocks_); }

 private:
  std::vector<std::string_view> lines_;
  std::vector<Block> blocks_;
};

}  // namespace

std::vector<Block> extractBlocks(std::string_view document) {
  const ParsedMarkdown root = parseMarkdown(document, /*github=*/true);
  Extractor extractor(document);
  for (cmark_node* node = cmark_node_first_child(root.get()); node != nullptr;
       node = cmark_node_next(node)) {
    extractor.addTopLevel(node);
  }
  return extractor.take();
}

}  // namespace morvane::vesk::markdown_layout
