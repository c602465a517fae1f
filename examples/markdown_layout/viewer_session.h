#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_VIEWER_SESSION_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_VIEWER_SESSION_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::vesk::markdown_layout {

// What a viewer does in a frame, in the order a session does them.
enum class StepKind : std::uint8_t {
  kOpen,            // first screen of a document
  kWholeDocument,   // every block, as computing the scroll bar does
  kScrollDown,      // one screen further down
  kScrollUp,        // one screen back up
  kResizeWider,     // the top screen at the wide width
  kResizeBack,      // the top screen at the narrow width again
  kReopenPrevious,  // the first screen of the previous document
};
inline constexpr std::size_t kStepKindCount = 7;
std::string_view stepKindName(StepKind kind);

// One repaint: the blocks [firstBlock, endBlock) of a document laid out at
// `width`.
struct Frame {
  StepKind kind = StepKind::kOpen;
  std::size_t document = 0;
  double width = 0.0;
  std::size_t firstBlock = 0;
  std::size_t endBlock = 0;
};

struct ViewerGeometry {
  double narrowWidth = 720.0;
  double wideWidth = 960.0;
  double screenHeight = 800.0;
  double blockGap = 8.0;  // between two blocks on screen
};

// The height of block `block` of document `document` laid out at `width`.
using BlockHeight = std::function<double(std::size_t document,
                                         std::size_t block, double width)>;

// The frames of a viewer session over documents with `blockCounts` blocks,
// the same for the same heights. For each document in turn: open it at the
// narrow width, lay out the whole document once, scroll down a screen at a
// time to the end and back up to the top, resize to the wide width and back,
// then reopen the previous document. A screen holds the blocks that start
// within `screenHeight` of its top; the next screen starts at the block the
// previous one cut off, and at least one block further, so that a block
// taller than the screen is not repainted screen after screen.
std::vector<Frame> planViewerSession(
    const std::vector<std::size_t>& blockCounts, const ViewerGeometry& geometry,
    const BlockHeight& blockHeight);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_VIEWER_SESSION_H_
