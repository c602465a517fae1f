#include "examples/markdown_layout/viewer_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

// A frame as text: "kind doc width first-end".
std::string describe(const Frame& frame) {
  return std::string(stepKindName(frame.kind)) + " " +
         std::to_string(frame.document) + " " +
         std::to_string(static_cast<int>(frame.width)) + " " +
         std::to_string(frame.firstBlock) + "-" +
         std::to_string(frame.endBlock);
}

std::vector<std::string> plan(const std::vector<std::size_t>& counts,
                              const BlockHeight& height) {
  ViewerGeometry geometry;
  geometry.screenHeight = 100.0;
  geometry.blockGap = 0.0;
  std::vector<std::string> frames;
  for (const Frame& frame : planViewerSession(counts, geometry, height)) {
    frames.push_back(describe(frame));
  }
  return frames;
}

TEST(ViewerSession, OpensScrollsDownAndUpResizesAndReopens) {
  // Blocks 40 px tall (60 at the wide width): a 100-px screen shows three,
  // the third cut off, so the next screen starts at that third block.
  const BlockHeight height = [](std::size_t, std::size_t, double width) {
    return width > 800.0 ? 60.0 : 40.0;
  };
  const std::vector<std::string> expected{
      "open 0 720 0-3",
      "whole document 0 720 0-7",
      "scroll down 0 720 2-5",
      "scroll down 0 720 4-7",
      "scroll up 0 720 2-5",
      "scroll up 0 720 0-3",
      "resize wider 0 960 0-2",
      "resize back 0 720 0-3",
      "open 1 720 0-2",
      "whole document 1 720 0-2",
      "resize wider 1 960 0-2",
      "resize back 1 720 0-2",
      "reopen previous 0 720 0-3",
  };
  EXPECT_EQ(plan({7, 2}, height), expected);
}

TEST(ViewerSession, ScrollsPastABlockTallerThanTheScreenInOneStep) {
  const BlockHeight height = [](std::size_t, std::size_t block, double) {
    return block == 1 ? 1000.0 : 50.0;
  };
  const std::vector<std::string> expected{
      "open 0 720 0-2",         "whole document 0 720 0-4",
      "scroll down 0 720 1-2",  "scroll down 0 720 2-4",
      "scroll up 0 720 1-2",    "scroll up 0 720 0-2",
      "resize wider 0 960 0-2", "resize back 0 720 0-2",
  };
  EXPECT_EQ(plan({4}, height), expected);
}

// The screen is 100 px, without gaps. A block is on screen when it starts
// above the bottom edge; one that starts exactly there is not, and one that
// ends exactly there is not cut off, so the next screen starts after it.
TEST(ViewerSession, ABlockAtTheBottomEdgeIsOnTheNextScreenOnly) {
  struct Case {
    const char* name;
    std::vector<double> heights;
    std::vector<std::string> openAndScrolls;
  };
  const std::vector<Case> cases{
      {"ends at the edge",
       {50, 50, 50, 50},
       {"open 0 720 0-2", "scroll down 0 720 2-4"}},
      {"ends 1 px past",
       {50, 51, 50, 50},
       {"open 0 720 0-2", "scroll down 0 720 1-3", "scroll down 0 720 2-4"}},
      {"starts 1 px above",
       {99, 50, 50},
       {"open 0 720 0-2", "scroll down 0 720 1-3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BlockHeight height = [&](std::size_t, std::size_t block, double) {
      return c.heights[block];
    };
    std::vector<std::string> frames;
    for (const std::string& frame : plan({c.heights.size()}, height)) {
      if (frame.starts_with("open") || frame.starts_with("scroll down")) {
        frames.push_back(frame);
      }
    }
    EXPECT_EQ(frames, c.openAndScrolls);
  }
}

TEST(ViewerSession, EmptyDocumentStillOpensAndResizes) {
  const BlockHeight height = [](std::size_t, std::size_t, double) {
    ADD_FAILURE() << "no block to measure";
    return 0.0;
  };
  const std::vector<std::string> expected{
      "open 0 720 0-0", "whole document 0 720 0-0", "resize wider 0 960 0-0",
      "resize back 0 720 0-0"};
  EXPECT_EQ(plan({0}, height), expected);
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
