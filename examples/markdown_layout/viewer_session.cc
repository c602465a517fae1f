#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::markdown_layout {
namespace {

struct Screen {
  std::size_t end = 0;  // one past the last block on screen
  bool cutOff = false;  // the last block runs past the bottom
};

Screen screenFrom(std::size_t document, std::size_t first, std::size_t count,
                  double width, const ViewerGeometry& geometry,
                  const BlockHeight& blockHeight) {
  Screen screen{first, false};
  double top = 0.0;
  while (screen.end < count && top < geometry.screenHeight) {
    top += blockHeight(document, screen.end, width);
    screen.cutOff = top > geometry.screenHeight;
    top += geometry.blockGap;
    ++screen.end;
  }
  return screen;
}

}  // namespace

std::string_view stepKindName(StepKind kind) {
  switch (kind) {
    case StepKind::kOpen:
      return "open";
    case StepKind::kWholeDocument:
      return "whole document";
    case StepKind::kScrollDown:
      return "scroll down";
    case StepKind::kScrollUp:
      return "scroll up";
    case StepKind::kResizeWider:
      return "resize wider";
    case StepKind::kResizeBack:
      return "resize back";
    case StepKind::kReopenPrevious:
      return "reopen previous";
  }
  return "?";
}

std::vector<Frame> planViewerSession(
    const std::vector<std::size_t>& blockCounts, const ViewerGeometry& geometry,
    const BlockHeight& blockHeight) {
  std::vector<Frame> frames;
  const double narrow = geometry.narrowWidth;
  for (std::size_t doc = 0; doc < blockCounts.size(); ++doc) {
    const std::size_t count = blockCounts[doc];
    const auto screen = [&](std::size_t d, std::size_t first, double width) {
      return screenFrom(d, first, blockCounts[d], width, geometry, blockHeight);
    };
    const auto add = [&](StepKind kind, std::size_t d, double width,
                         std::size_t first) {
      frames.push_back(
          Frame{kind, d, width, first, screen(d, first, width).end});
    };

    add(StepKind::kOpen, doc, narrow, 0);
    frames.push_back(Frame{StepKind::kWholeDocument, doc, narrow, 0, count});

    std::vector<std::size_t> tops{0};
    for (;;) {
      const std::size_t top = tops.back();
      const Screen shown = screen(doc, top, narrow);
      if (shown.end >= count) break;
      std::size_t next = shown.cutOff ? shown.end - 1 : shown.end;
      if (next <= top) next = top + 1;
      tops.push_back(next);
      add(StepKind::kScrollDown, doc, narrow, next);
    }
    for (std::size_t i = tops.size() - 1; i-- > 0;) {
      add(StepKind::kScrollUp, doc, narrow, tops[i]);
    }

    add(StepKind::kResizeWider, doc, geometry.wideWidth, 0);
    add(StepKind::kResizeBack, doc, narrow, 0);
    if (doc > 0) add(StepKind::kReopenPrevious, doc - 1, narrow, 0);
  }
  return frames;
}

}  // namespace morvane::vesk::markdown_layout
