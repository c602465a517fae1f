#include "examples/markdown_layout/session_planning.h"

#include <map>
#include <tuple>

#include "examples/markdown_layout/block_measurement.h"
#include "examples/markdown_layout/text_shaper.h"

namespace morvane::vesk::markdown_layout {

std::vector<Frame> planSession(
    const std::vector<Document>& documents, const LayoutOptions& options,
    const ViewerGeometry& geometry,
    const std::function<void(std::size_t done, std::size_t total)>& progress) {
  TextShaper shaper(kFontDirectory);
  // Each block's height at each width, measured once however often the
  // planner asks.
  std::map<std::tuple<std::size_t, std::size_t, double>, double> heights;
  const BlockHeight height = [&](std::size_t doc, std::size_t block,
                                 double width) {
    auto [it, inserted] = heights.try_emplace({doc, block, width}, 0.0);
    if (inserted) {
      LayoutOptions at = options;
      at.maxWidth = width;
      it->second =
          measureBlock(layoutKey(documents[doc].blocks[block], at), shaper)
              .height;
      if (progress) progress(doc + 1, documents.size());
    }
    return it->second;
  };
  std::vector<std::size_t> counts;
  counts.reserve(documents.size());
  for (const Document& document : documents) {
    counts.push_back(document.blocks.size());
  }
  return planViewerSession(counts, geometry, height);
}

}  // namespace morvane::vesk::markdown_layout
