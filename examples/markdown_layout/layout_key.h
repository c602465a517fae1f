#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_LAYOUT_KEY_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_LAYOUT_KEY_H_

#include <string>

#include <vesk/measurement_cache_key.h>

#include "examples/markdown_layout/block_extraction.h"

namespace morvane::vesk::markdown_layout {

// The directory the font file names of a key are opened in. A constant of
// the program, not a layout input.
inline constexpr const char* kFontDirectory =
    "/usr/share/fonts/truetype/dejavu";

// The viewer's settings that apply to every block.
struct LayoutOptions {
  double fontSize = 16.0;    // pixels per em of body text
  double maxWidth = 720.0;   // pixels available to a block
  double lineSpacing = 1.2;  // multiple of the face's own line height
  bool kerning = true;
  std::string regularFont = "DejaVuSans.ttf";
  std::string boldFont = "DejaVuSans-Bold.ttf";
  std::string obliqueFont = "DejaVuSans-Oblique.ttf";
  std::string boldObliqueFont = "DejaVuSans-BoldOblique.ttf";
  std::string monospaceFont = "DejaVuSansMono.ttf";
};

// Which MeasurementCacheKey field holds which layout input. fillLayoutKey()
// is the only writer of keys and measureBlock() reads them through these names
// alone, so a block's size is a function of its key: equal keys measure equal
// sizes by construction. Every field not listed stays zero. What the source
// determines (a heading's level, a block's kind) is not repeated: measuring
// parses the source.
//
//   field      layout input
//   markdown   the block's source lines (Block::source), after the link
//              reference definitions they use and a blank line, if any
//              (Block::definitions): for a table row, its one line is last
//   real1      font size of body text, px
//   real2      maximum width, px
//   real3      line spacing, multiple of the face's line height
//   flag1      kerning on
//   flag2      the block is one table row
//   flag3      that row is the table's header (laid out bold)
//   unsigned1  columns of the row's table (0 for other blocks)
//   flavor     MarkdownFlavor::kGitHub (tables, strikethrough, autolinks)
//   string1    regular face file, in kFontDirectory
//   string2    bold face file (headings, strong emphasis, header rows)
//   string3    oblique face file (emphasis)
//   string4    bold oblique face file (both)
//   string5    monospace face file (code blocks, code spans, HTML)
namespace key_field {
inline constexpr auto kSource = &MeasurementCacheKey::markdown;
inline constexpr auto kFontSize = &MeasurementCacheKey::real1;
inline constexpr auto kMaxWidth = &MeasurementCacheKey::real2;
inline constexpr auto kLineSpacing = &MeasurementCacheKey::real3;
inline constexpr auto kKerning = &MeasurementCacheKey::flag1;
inline constexpr auto kTableRow = &MeasurementCacheKey::flag2;
inline constexpr auto kTableHeaderRow = &MeasurementCacheKey::flag3;
inline constexpr auto kTableColumns = &MeasurementCacheKey::unsigned1;
inline constexpr auto kFlavor = &MeasurementCacheKey::flavor;
inline constexpr auto kRegularFont = &MeasurementCacheKey::string1;
inline constexpr auto kBoldFont = &MeasurementCacheKey::string2;
inline constexpr auto kObliqueFont = &MeasurementCacheKey::string3;
inline constexpr auto kBoldObliqueFont = &MeasurementCacheKey::string4;
inline constexpr auto kMonospaceFont = &MeasurementCacheKey::string5;
}  // namespace key_field

// Makes `key` the key of laying out `block` with `options`, per the table
// above, reusing the key's string buffers: a key kept per thread is rebuilt
// for each block without allocating once its buffers are large enough.
void fillLayoutKey(const Block& block, const LayoutOptions& options,
                   MeasurementCacheKey& key);

// The key of laying out `block` with `options`, per the table above.
MeasurementCacheKey layoutKey(const Block& block, const LayoutOptions& options);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_LAYOUT_KEY_H_
