#include "examples/markdown_layout/block_listing.h"

#include <array>
#include <cstdio>

#include "examples/markdown_layout/block_measurement.h"

namespace morvane::vesk::markdown_layout {

void listBlocks(std::ostream& out, std::string_view documentName,
                const std::vector<Block>& blocks, const LayoutOptions& options,
                TextShaper& shaper) {
  MeasurementCacheKey key;
  std::array<char, 64> size{};
  for (const Block& block : blocks) {
    fillLayoutKey(block, options, key);
    const CachedSize measured = measureBlock(key, shaper);
    std::snprintf(size.data(), size.size(), "%.2f\t%.2f", measured.width,
                  measured.height);
    out << documentName << '\t' << block.firstLine;
    if (block.lastLine != block.firstLine) out << '-' << block.lastLine;
    out << '\t' << blockKindName(block.kind) << '\t' << size.data() << '\n';
  }
}

}  // namespace morvane::vesk::markdown_layout
