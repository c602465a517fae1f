#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_SESSION_PLANNING_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_SESSION_PLANNING_H_

#include <cstddef>
#include <functional>
#include <vector>

#include "examples/markdown_layout/document_loading.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::markdown_layout {

// The viewer session over `documents` (see planViewerSession), from their
// blocks' heights measured once with `options` at each frame's width,
// without the cache: planning is not part of any timed replay. `progress`
// (may be empty) is called with the documents measured so far. Throws what
// measuring throws. Not thread-safe (one shaper, used by the caller's thread).
std::vector<Frame> planSession(
    const std::vector<Document>& documents, const LayoutOptions& options,
    const ViewerGeometry& geometry,
    const std::function<void(std::size_t done, std::size_t total)>& progress);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_SESSION_PLANNING_H_
