#include "examples/markdown_layout/block_layouter.h"

#include <chrono>

#include "examples/markdown_layout/block_measurement.h"

namespace morvane::vesk::markdown_layout {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nanosecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() -
                                                              start)
      .count();
}

}  // namespace

LayoutCounts& LayoutCounts::operator+=(const LayoutCounts& other) {
  blocks += other.blocks;
  measurements += other.measurements;
  hits += other.hits;
  misses += other.misses;
  cacheNanoseconds += other.cacheNanoseconds;
  return *this;
}

BlockLayouter::BlockLayouter(CacheMode mode, bool verify,
                             MeasurementCache& cache)
    : mode_(mode), verify_(verify), cache_(cache), shaper_(kFontDirectory) {}

BlockLayout BlockLayouter::layOut(const Block& block,
                                  const LayoutOptions& options,
                                  LayoutCounts& counts) {
  ++counts.blocks;
  fillLayoutKey(block, options, key_);
  const MeasurementCacheKey& key = key_;
  BlockLayout layout;
  if (mode_ == CacheMode::kNone) {
    layout.size = measureBlock(key, shaper_);
    ++counts.measurements;
    return layout;
  }

  bool measured = false;
  std::int64_t measuringNanoseconds = 0;
  const Clock::time_point start = Clock::now();
  layout.size = cache_.getOrMeasure(key, [&] {
    const Clock::time_point measureStart = Clock::now();
    const CachedSize size = measureBlock(key, shaper_);
    measuringNanoseconds = nanosecondsSince(measureStart);
    measured = true;
    return size;
  });
  counts.cacheNanoseconds += nanosecondsSince(start) - measuringNanoseconds;
  if (measured) {
    ++counts.misses;
    ++counts.measurements;
    return layout;
  }
  ++counts.hits;
  if (verify_) {
    layout.measured = measureBlock(key, shaper_);
    layout.mismatch = layout.measured.width != layout.size.width ||
                      layout.measured.height != layout.size.height;
  }
  return layout;
}

}  // namespace morvane::vesk::markdown_layout
