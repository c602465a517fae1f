#include "examples/markdown_layout/block_listing.h"

#include <array>
#include <cstdio>

#include "examples/markdown_layout/block_measurement.h"

namespace morvane::vesk::markdown_layout {

std::string escapeListingField(std::string_view field) {
  std::string escaped;
  escaped.reserve(field.size());
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          constexpr std::string_view kDigits = "0123456789abcdef";
          escaped += "\\x";
          escaped += kDigits[byte >> 4];
          escaped += kDigits[byte & 0xf];
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

void listBlocks(std::ostream& out, std::string_view documentName,
                const std::vector<Block>& blocks, const LayoutOptions& options,
                TextShaper& shaper) {
  const std::string name = escapeListingField(documentName);
  MeasurementCacheKey key;
  std::array<char, 64> size{};
  for (const Block& block : blocks) {
    fillLayoutKey(block, options, key);
    const CachedSize measured = measureBlock(key, shaper);
    std::snprintf(size.data(), size.size(), "%.2f\t%.2f", measured.width,
                  measured.height);
    out << name << '\t' << block.firstLine;
    if (block.lastLine != block.firstLine) out << '-' << block.lastLine;
    out << '\t' << blockKindName(block.kind) << '\t' << size.data() << '\n';
  }
}

}  // namespace morvane::vesk::markdown_layout
