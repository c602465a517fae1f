#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_LAYOUTER_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_LAYOUTER_H_

#include <vesk/cached_size.h>
#include <vesk/measurement_cache.h>

#include <cstdint>

#include "examples/markdown_layout/block_extraction.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/text_shaper.h"

namespace morvane::vesk::markdown_layout {

enum class CacheMode : std::uint8_t {
  kNone,    // measure every block
  kCached,  // ask the cache first, store what was measured
};

// What laying out blocks did. Counts add up across blocks and threads.
struct LayoutCounts {
  std::uint64_t blocks = 0;
  std::uint64_t measurements = 0;  // excluding the re-measurements of verify
  // The cached mode's lookups: those the cache answered without this
  // layouter measuring (hits, and misses that waited for another thread's
  // measurement of the same key), and those it measured for.
  std::uint64_t hits = 0;
  std::uint64_t misses = 0;
  // Wall time inside getOrMeasure(), less the measuring it called: looking
  // up, storing, and waiting for another thread's measurement.
  std::int64_t cacheNanoseconds = 0;

  LayoutCounts& operator+=(const LayoutCounts& other);
};

struct BlockLayout {
  CachedSize size;        // what the layout used: from the cache or measured
  bool mismatch = false;  // verify: a fresh measurement differs from the hit
  CachedSize measured;    // that fresh measurement, when verified
};

// Lays out blocks the same way in both modes: it builds the block's key, and
// measures from the key; the cached mode asks `cache` through getOrMeasure(),
// which measures only on a miss nobody else is measuring already, and stores
// what it measured. The time inside the cache is taken by the wall clock
// around each call and inside the measuring. With `verify`, every lookup
// answered without measuring is measured again and compared.
//
// Thread safety: none; give each thread its own BlockLayouter (it owns a
// TextShaper). The cache may be shared.
class BlockLayouter {
 public:
  BlockLayouter(CacheMode mode, bool verify, MeasurementCache& cache);

  BlockLayout layOut(const Block& block, const LayoutOptions& options,
                     LayoutCounts& counts);

 private:
  CacheMode mode_;
  bool verify_;
  MeasurementCache& cache_;
  TextShaper shaper_;
  MeasurementCacheKey key_;  // rebuilt for each block, buffers reused
};

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_BLOCK_LAYOUTER_H_
