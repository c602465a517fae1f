#ifndef VESK_TESTS_MARKDOWN_LAYOUT_TEST_FRAMES_H_
#define VESK_TESTS_MARKDOWN_LAYOUT_TEST_FRAMES_H_

#include <cstddef>
#include <vector>

#include "examples/markdown_layout/document_loading.h"
#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::testing {

// The viewer session over `documents` on a screen `screenHeight` pixels high,
// every block planned 30 to 32 pixels high, so that a test's frame count
// follows from its block counts alone.
inline std::vector<markdown_layout::Frame> planTestFrames(
    const std::vector<markdown_layout::Document>& documents,
    double screenHeight) {
  std::vector<std::size_t> counts;
  counts.reserve(documents.size());
  for (const markdown_layout::Document& document : documents) {
    counts.push_back(document.blocks.size());
  }
  markdown_layout::ViewerGeometry geometry;
  geometry.screenHeight = screenHeight;
  return markdown_layout::planViewerSession(
      counts, geometry, [](std::size_t, std::size_t block, double) {
        return 30.0 + static_cast<double>(block % 3);
      });
}

}  // namespace morvane::vesk::testing

#endif  // VESK_TESTS_MARKDOWN_LAYOUT_TEST_FRAMES_H_
