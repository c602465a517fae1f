#ifndef VESK_CACHE_MARKDOWN_FLAVOR_H_
#define VESK_CACHE_MARKDOWN_FLAVOR_H_

#include <cstdint>

namespace morvane::vesk {

// The markdown dialect a text was measured under. The cache stores, compares
// and hashes it by its numeric value and attaches no other meaning to it.
enum class MarkdownFlavor : std::uint8_t {
  kCommonMark = 0,
  kGitHub = 1,
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MARKDOWN_FLAVOR_H_
