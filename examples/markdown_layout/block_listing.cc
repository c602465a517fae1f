#include "examples/markdown_layout/block_listing.h"

#include <cstdio>

#include "examples/markdown_layout/block_measurement.h"

namespace morvane::vesk::markdown_layout {

void listBlocks(std::ostream& out, std::string_view documentName,
                const std::vector<Block>& blocks, const LayoutOptions& options,
                TextShaper& shaper) {
  MeasurementCacheKey key;
  for (const Block& block : blocks) {
    fillLayoutKey(block, options, key);
    const CachedSize size = measureBlock(key, shaper);
    char numbers[96];
    if (block.firstLine == block.lastLine) {
      std::snprintf(numbers, sizeof numbers, "%d", block.firstLine);
    } else {
      std::snprintf(numbers, sizeof numbers, "%d-%d", block.firstLine,
                    block.lastLine);
    }
    out << documentName << '\t' << numbers << '\t' << blockKindName(block.kind)
        << '\t';
    std::snprintf(numbers, sizeof numbers, "%.2f\t%.2f", size.width,
                  size.height);
    out << numbers << '\n';
  }
}

}  // namespace morvane::vesk::markdown_layout
