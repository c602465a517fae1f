#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_LINE_BREAKING_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_LINE_BREAKING_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace morvane::vesk::markdown_layout {

// What a shaped cluster is to the line breaker.
enum class ClusterKind : std::uint8_t {
  kGlyphs,     // part of a word: a line breaks inside a word only when the
               // word alone is wider than the line
  kSpace,      // a break opportunity; not counted at the end of a line
  kHardBreak,  // ends the line (zero advance)
};

// The smallest unit of shaped text: one HarfBuzz cluster, in pixels.
struct Cluster {
  double advance = 0.0;
  double lineHeight = 0.0;  // of the face it was shaped in, spacing applied
  ClusterKind kind = ClusterKind::kGlyphs;
};

struct LineBreaks {
  double widestLine = 0.0;  // widest line without its trailing spaces
  double height = 0.0;      // sum of the line heights
  std::size_t lines = 0;
};

// Greedy line breaking: words go on the current line while they fit in
// `maxWidth`; a word wider than `maxWidth` is broken between clusters. A
// line is as tall as its tallest cluster, or `emptyLineHeight` when it has
// none. Spaces that open a line count (code indentation) except those that
// follow an automatic wrap. There is always at least one line. Pure.
LineBreaks breakLines(std::span<const Cluster> clusters, double maxWidth,
                      double emptyLineHeight);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_LINE_BREAKING_H_
