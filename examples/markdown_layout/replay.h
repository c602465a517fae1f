#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_REPLAY_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_REPLAY_H_

#include <vesk/measurement_cache.h>
#include <vesk/measurement_cache_stats.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "examples/markdown_layout/block_layouter.h"
#include "examples/markdown_layout/document_loading.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/viewer_session.h"

namespace morvane::vesk::markdown_layout {

// What the cache's statistics moved by over some frames.
struct CacheTraffic {
  // Lookups the cache answered from a stored entry, and those it did not:
  // its misses, and the keys too large for its byte budget, which it
  // measures without looking them up.
  std::uint64_t hits = 0;
  std::uint64_t misses = 0;
  std::uint64_t evictionsByEntryLimit = 0;
  std::uint64_t evictionsByByteBudget = 0;
  // Of the misses, those that waited for another thread's measurement of an
  // equal key instead of measuring: each saved a measurement.
  std::uint64_t waits = 0;
  std::uint64_t measurements = 0;  // that getOrMeasure() ran

  // The counts between two snapshots of one cache, `before` taken first and
  // no clear() between them.
  static CacheTraffic between(const MeasurementCacheStats& before,
                              const MeasurementCacheStats& after);
  [[nodiscard]] std::uint64_t evictions() const {
    return evictionsByEntryLimit + evictionsByByteBudget;
  }
  CacheTraffic& operator+=(const CacheTraffic& other);
};

struct StepTotals {
  // The layouter's own count: blocks, measurements and time in cache calls;
  // its hits and misses only cross-check `cache`.
  LayoutCounts counts;
  CacheTraffic cache;  // the cached mode: from the cache's stats()
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
  // Per frame of the session: its wall time, and whether the cache served it
  // wholly (the cached mode, at least one block and no miss; never without
  // the cache).
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
// counted, not starting the threads. The cache's hits, misses and evictions
// are the differences of its stats() before and after each frame, so nothing
// else may use `cache` during the replay (it is not cleared: a pass may
// reuse the entries of the previous one). Throws what measuring throws, and
// std::logic_error if the cache's statistics disagree with what the
// layouters counted: the lookups answered without measuring must be the
// hits and the waits, and the measurements the misses that did not wait.
ReplayResult replaySession(const std::vector<Document>& documents,
                           const std::vector<Frame>& frames,
                           const ReplaySettings& settings,
                           MeasurementCache& cache,
                           const ReplayProgress& progress);

// "verify: PATH block N (line L): cached W x H px, measured W x H px".
std::string describeMismatch(const Mismatch& mismatch,
                             const std::vector<Document>& documents);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_REPLAY_H_
