#include "examples/markdown_layout/layout_key.h"

namespace morvane::vesk::markdown_layout {

void fillLayoutKey(const Block& block, const LayoutOptions& options,
                   MeasurementCacheKey& key) {
  namespace f = key_field;
  std::string& source = key.*f::kSource;
  source.assign(block.definitions);
  if (!block.definitions.empty()) source += '\n';
  source += block.source;
  key.*f::kFontSize = options.fontSize;
  key.*f::kMaxWidth = options.maxWidth;
  key.*f::kLineSpacing = options.lineSpacing;
  key.*f::kKerning = options.kerning;
  key.*f::kTableRow = block.tableRow;
  key.*f::kTableHeaderRow = block.tableHeaderRow;
  key.*f::kTableColumns = block.tableRow ? block.tableColumns : 0;
  key.*f::kFlavor = MarkdownFlavor::kGitHub;
  key.*f::kRegularFont = options.regularFont;
  key.*f::kBoldFont = options.boldFont;
  key.*f::kObliqueFont = options.obliqueFont;
  key.*f::kBoldObliqueFont = options.boldObliqueFont;
  key.*f::kMonospaceFont = options.monospaceFont;
  // Every other field stays at zero.
  key.flag4 = key.flag5 = key.flag6 = key.flag7 = false;
  key.flag8 = key.flag9 = key.flag10 = false;
  key.unsigned2 = key.unsigned3 = 0;
  key.integer = 0;
}

MeasurementCacheKey layoutKey(const Block& block,
                              const LayoutOptions& options) {
  MeasurementCacheKey key{};
  fillLayoutKey(block, options, key);
  return key;
}

}  // namespace morvane::vesk::markdown_layout
