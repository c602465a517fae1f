#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_REPLAY_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_REPLAY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "cache/measurement_cache.h"
#include "examples/markdown_layout/block_layouter.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::markdown_layout {

struct StepTotals {
  LayoutCounts counts;
  std::uint64_t frames = 0;
  std::int64_t wallNanoseconds = 0;  // frame wall time, first block to last

  StepTotals& operator+=(const StepTotals& other);
};

// The first block (in session order) whose cached size differed from a
// fresh measurement.
struct Mismatch {
  std::size_t frame = 0;
  std::size_t document = 0;
  std::size_t block = 0;
  CachedSize cached;
  CachedSize measured;
};

struct ReplayResult {
  std::array<StepTotals, kStepKindCount> steps;  // indexed by StepKind
  std::optional<Mismatch> mismatch;
  // Per frame of the session: its wall time, and whether it measured
  // nothing (the cached mode, every block a hit; never without the cache).
  std::vector<std::int64_t> frameNanoseconds;
  std::vector<bool> servedByCache;
  // The process's CPU time and the wall time over the whole replay: their
  // ratio is how many cores the replay had (workers waiting between frames
  // spin for up to 50 us, which counts).
  std::int64_t cpuNanoseconds = 0;
  std::int64_t replayWallNanoseconds = 0;

  [[nodiscard]] StepTotals total() const;
};

struct ReplaySettings {
  CacheMode mode = CacheMode::kCached;
  std::size_t threads = 1;
  bool verify = false;
  LayoutOptions options;  // maxWidth is each frame's width
};

// Called after each frame with the frames done and the frames in all.
using ReplayProgress = std::function<void(std::size_t done, std::size_t total)>;

// Lays out every frame of `frames` in order, the blocks of each frame spread
// over settings.threads threads that share `cache`. Only frame wall time is
// counted, not starting the threads. Throws what measuring throws.
ReplayResult replaySession(const std::vector<Document>& documents,
                           const std::vector<Frame>& frames,
                           const ReplaySettings& settings,
                           MeasurementCache& cache,
                           const ReplayProgress& progress);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_REPLAY_H_
