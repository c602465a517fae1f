#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_MEASUREMENT_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_MEASUREMENT_H_

#include <vesk/cached_size.h>
#include <vesk/measurement_cache_key.h>

#include <cstddef>

#include "examples/markdown_layout/text_shaper.h"

namespace morvane::vesk::markdown_layout {

// What one measurement did, for tests that check its cost without a clock.
struct MeasurementWork {
  std::size_t parsedBytes = 0;    // markdown handed to the parser
  std::size_t inlineLayouts = 0;  // sequences of runs broken into lines
  // The most shaped clusters held at once: one shaped piece's, and the
  // word the line breaker holds back.
  std::size_t heldClusters = 0;
};

// Lays out the block a layoutKey() key describes and returns its size: the
// widest line (indentation included) and the total height, in pixels.
//
// It reads nothing but the key's fields (through key_field) and the fonts
// they name, and the layout is deterministic, so equal keys always measure
// equal sizes. It parses the key's source, shapes each inline run in its own
// face (regular, bold, oblique, bold oblique or monospace), breaks the runs
// of a paragraph into lines together and stacks blocks with a gap of half
// the font size; list items and block quotes are indented, table cells share
// the width equally.
//
// Cost: shaping and line breaking hold a bounded number of clusters at a
// time (the shaper's pieces; see TextShaper), not one per character of the
// block, so memory grows with the source (parsed once, its runs' text
// copied once), not with what it shapes to. Nesting of any depth costs
// heap, not stack (containers and inline
// spans are walked with explicit stacks). A table row costs what the row
// costs: the columns of its table that it has no cells for are the empty
// cells they are, not parsed or laid out one by one.
//
// Adds to `work` when given. Throws what TextShaper throws. Thread-safe as
// long as each thread passes its own `shaper`.
CachedSize measureBlock(const MeasurementCacheKey& key, TextShaper& shaper,
                        MeasurementWork* work = nullptr);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_MEASUREMENT_H_
