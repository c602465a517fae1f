// The replay on several threads against the one-thread replay, the frames it
// says the cache served, and the mismatch --verify reports. Built also for
// ThreadSanitizer, which sees state that threads share by mistake.

#include "examples/markdown_layout/replay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "examples/markdown_layout/block_extraction.h"
#include "examples/markdown_layout/layout_key.h"
#include "tests/markdown_layout/test_frames.h"

namespace morvane::vesk::markdown_layout {
namespace {

// Documents of unique paragraphs (so that no two blocks share a key), one of
// them empty, fewer blocks in all than the cache holds at both widths.
std::vector<Document> makeDocuments() {
  std::vector<Document> documents;
  for (const std::size_t count : {30U, 0U, 25U, 9U}) {
    std::string text;
    for (std::size_t b = 0; b < count; ++b) {
      text += "Paragraph " + std::to_string(documents.size()) + "." +
              std::to_string(b) + " with *a few* words" +
              std::string(b % 4 * 12, '.') + "\n\n";
    }
    documents.push_back(Document{"doc" + std::to_string(documents.size()),
                                 extractBlocks(text)});
  }
  return documents;
}

std::vector<Frame> makeFrames(const std::vector<Document>& documents) {
  return testing::planTestFrames(documents, 200.0);
}

ReplayResult replay(const std::vector<Document>& documents,
                    const std::vector<Frame>& frames, CacheMode mode,
                    std::size_t threads, MeasurementCache& cache,
                    bool verify = false) {
  ReplaySettings settings;
  settings.mode = mode;
  settings.threads = threads;
  settings.verify = verify;
  return replaySession(documents, frames, settings, cache, {});
}

TEST(Replay, SeveralThreadsCountWhatOneThreadCounts) {
  const std::vector<Document> documents = makeDocuments();
  const std::vector<Frame> frames = makeFrames(documents);
  std::array<std::uint64_t, kStepKindCount> blocks{};
  for (const Frame& frame : frames) {
    blocks[static_cast<std::size_t>(frame.kind)] +=
        frame.endBlock - frame.firstBlock;
  }

  MeasurementCache oneThreadCache;
  const ReplayResult oneThread =
      replay(documents, frames, CacheMode::kCached, 1, oneThreadCache);
  for (const std::size_t threads : {2U, 4U}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    MeasurementCache cache;
    const ReplayResult none =
        replay(documents, frames, CacheMode::kNone, threads, cache);
    const ReplayResult first =
        replay(documents, frames, CacheMode::kCached, threads, cache);
    const ReplayResult second =
        replay(documents, frames, CacheMode::kCached, threads, cache);
    for (std::size_t k = 0; k < kStepKindCount; ++k) {
      SCOPED_TRACE(stepKindName(static_cast<StepKind>(k)));
      EXPECT_EQ(none.steps[k].counts.blocks, blocks[k]);
      EXPECT_EQ(none.steps[k].counts.measurements, blocks[k]);
      EXPECT_EQ(none.steps[k].cache.hits + none.steps[k].cache.misses, 0U);
      EXPECT_EQ(first.steps[k].counts.blocks, blocks[k]);
      EXPECT_EQ(first.steps[k].cache.hits, oneThread.steps[k].cache.hits);
      EXPECT_EQ(first.steps[k].cache.misses, oneThread.steps[k].cache.misses);
      EXPECT_EQ(first.steps[k].counts.measurements,
                first.steps[k].cache.misses);
      EXPECT_EQ(second.steps[k].cache.hits, blocks[k]);
      EXPECT_EQ(second.steps[k].counts.measurements, 0U);
    }
    EXPECT_GT(first.total().cache.misses, 0U);
    EXPECT_EQ(first.total().cache.evictions(), 0U);
    EXPECT_EQ(first.servedByCache, oneThread.servedByCache);
    EXPECT_EQ(cache.stats().entries, oneThreadCache.stats().entries);
  }
}

// getOrMeasure() measures a key once however many threads miss it: a
// document of one paragraph repeated, laid out by several threads at once,
// is measured once per width; the other lookups hit or wait, and the
// statistics say which without disagreeing with the layouters.
TEST(Replay, EachKeyIsMeasuredOnceHoweverManyThreadsMissIt) {
  std::string text;
  for (int b = 0; b < 60; ++b) text += "The same paragraph, *again*.\n\n";
  const std::vector<Document> documents{
      Document{"repeated", extractBlocks(text)}};
  const std::vector<Frame> frames = makeFrames(documents);
  std::uint64_t blocks = 0;
  for (const Frame& frame : frames) blocks += frame.endBlock - frame.firstBlock;
  for (const std::size_t threads : {1U, 2U, 4U}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    MeasurementCache cache;
    const StepTotals total =
        replay(documents, frames, CacheMode::kCached, threads, cache).total();
    EXPECT_EQ(total.counts.blocks, blocks);
    EXPECT_EQ(total.counts.measurements, 2U);  // at 720 and at 960 px
    EXPECT_EQ(total.cache.measurements, 2U);
    EXPECT_EQ(total.cache.misses - total.cache.waits, 2U);
    EXPECT_EQ(total.cache.hits + total.cache.misses, blocks);
    if (threads == 1) {
      EXPECT_EQ(total.cache.waits, 0U);
    }
  }
}

// A key too large for the cache's budget is measured without a lookup; the
// replay counts it a miss, so that hits and misses still add up to the
// blocks, at any limits.
TEST(Replay, KeysTooLargeForTheBudgetAreMisses) {
  const std::vector<Document> documents = makeDocuments();
  const std::vector<Frame> frames = makeFrames(documents);
  for (const MeasurementCacheLimits limits :
       {MeasurementCacheLimits{512, kSmallestEntryCharge},
        MeasurementCacheLimits{8, std::uint64_t{64} * 1024}}) {
    SCOPED_TRACE(std::to_string(limits.maxEntries) + " entries, " +
                 std::to_string(limits.byteBudget) + " bytes");
    MeasurementCache cache(limits);
    const StepTotals total =
        replay(documents, frames, CacheMode::kCached, 2, cache).total();
    EXPECT_EQ(total.cache.hits + total.cache.misses, total.counts.blocks);
    EXPECT_EQ(total.counts.measurements, total.cache.misses);
    if (limits.byteBudget == kSmallestEntryCharge) {
      EXPECT_EQ(total.cache.hits, 0U);
      EXPECT_EQ(cache.stats().refusals, total.counts.blocks);
    } else {
      EXPECT_GT(total.cache.evictions(), 0U);
      EXPECT_GT(total.cache.hits, 0U);
    }
  }
}

// Each step's evictions, by the limit that made them, add up to the cache's
// own counts: one limit binds in each case, so a count taken from the other
// would show.
TEST(Replay, CountsEachStepsEvictionsByTheLimitThatMadeThem) {
  const std::vector<Document> documents = makeDocuments();
  const std::vector<Frame> frames = makeFrames(documents);
  struct Case {
    MeasurementCacheLimits limits;
    bool byEntries;
  };
  for (const Case& c : {Case{{6, std::uint64_t{1} << 30}, true},
                        Case{{100000, std::uint64_t{6} * 1024}, false}}) {
    SCOPED_TRACE(c.byEntries ? "entry limit" : "byte budget");
    MeasurementCache cache(c.limits);
    const ReplayResult result =
        replay(documents, frames, CacheMode::kCached, 1, cache);
    std::uint64_t byEntries = 0;
    std::uint64_t byBytes = 0;
    for (const StepTotals& step : result.steps) {
      byEntries += step.cache.evictionsByEntryLimit;
      byBytes += step.cache.evictionsByByteBudget;
    }
    const MeasurementCacheStats stats = cache.stats();
    EXPECT_EQ(byEntries, stats.evictionsByEntryLimit);
    EXPECT_EQ(byBytes, stats.evictionsByByteBudget);
    EXPECT_GT(c.byEntries ? byEntries : byBytes, 0U);
    EXPECT_EQ(c.byEntries ? byBytes : byEntries, 0U);
  }
}

TEST(Replay, OnlyFramesWithBlocksAndNoMissAreServedByTheCache) {
  const std::vector<Document> documents = makeDocuments();
  const std::vector<Frame> frames = makeFrames(documents);
  MeasurementCache cache;
  const ReplayResult none =
      replay(documents, frames, CacheMode::kNone, 2, cache);
  const ReplayResult first =
      replay(documents, frames, CacheMode::kCached, 2, cache);
  const ReplayResult second =
      replay(documents, frames, CacheMode::kCached, 2, cache);
  ASSERT_EQ(second.servedByCache.size(), frames.size());
  std::size_t empty = 0;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const bool hasBlocks = frames[f].endBlock > frames[f].firstBlock;
    empty += hasBlocks ? 0 : 1;
    EXPECT_FALSE(none.servedByCache[f]);
    EXPECT_EQ(second.servedByCache[f], hasBlocks);
    // The first pass: a document's opening frame measures its blocks.
    if (frames[f].kind == StepKind::kOpen) {
      EXPECT_FALSE(first.servedByCache[f]);
    }
  }
  EXPECT_GT(empty, 0U);  // the empty document's frames
}

TEST(Replay, VerifyReportsTheEarliestMismatchInSessionOrder) {
  const std::vector<Document> documents = makeDocuments();
  const std::vector<Frame> frames = makeFrames(documents);
  ASSERT_GE(frames.front().endBlock, 4U);  // blocks 1 and 3 open document 0
  LayoutOptions options;
  options.maxWidth = frames.front().width;
  for (const std::size_t threads : {1U, 3U}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    MeasurementCache cache;
    // Wrong sizes for three blocks that the first frame lays out, and one
    // in the last document; the earliest of them in session order is block
    // 1 of the first frame.
    cache.set(layoutKey(documents[0].blocks[3], options), CachedSize{1, 1});
    cache.set(layoutKey(documents[0].blocks[1], options), CachedSize{2, 2});
    cache.set(layoutKey(documents[0].blocks[2], options), CachedSize{3, 3});
    cache.set(layoutKey(documents[3].blocks[0], options), CachedSize{4, 4});
    const ReplayResult result =
        replay(documents, frames, CacheMode::kCached, threads, cache, true);
    ASSERT_TRUE(result.mismatch.has_value());
    EXPECT_EQ(result.mismatch->frame, 0U);
    EXPECT_EQ(result.mismatch->document, 0U);
    EXPECT_EQ(result.mismatch->block, 1U);
    EXPECT_EQ(result.mismatch->cached.width, 2.0);
    EXPECT_GT(result.mismatch->measured.width, 2.0);
    EXPECT_EQ(describeMismatch(*result.mismatch, documents)
                  .rfind("verify: doc0 block 1 (line 3): cached 2 x 2 px", 0),
              0U);
  }
}

// The replay reads hits and misses from the cache's statistics and checks
// them against the layouters' own count: another user of the cache during
// the replay makes them disagree, and the replay fails instead of reporting
// the other user's lookups as its own.
TEST(Replay, FailsWhenTheCacheStatisticsDisagreeWithItsOwnCount) {
  // Another thread uses the cache while the first frame runs, which no
  // timing can prevent: it measures the frame's first block itself, and its
  // measurement asks the cache for a key of its own once the replay has
  // missed (so the frame has begun), then returns. The frame cannot end
  // before, since its layouter of that block waits for that measurement.
  const std::vector<Document> documents = makeDocuments();
  const std::vector<Frame> frames = makeFrames(documents);
  ASSERT_FALSE(frames.empty());
  ASSERT_EQ(frames[0].document, 0U);
  ASSERT_EQ(frames[0].firstBlock, 0U);
  ASSERT_GE(frames[0].endBlock, 2U);
  LayoutOptions options;
  options.maxWidth = frames[0].width;
  const MeasurementCacheKey firstBlock =
      layoutKey(documents[0].blocks[0], options);
  MeasurementCacheKey foreign = firstBlock;
  foreign.markdown += " (no block of the session)";

  MeasurementCache cache;
  std::atomic<bool> measuring{false};
  std::thread other([&] {
    (void)cache.getOrMeasure(firstBlock, [&] {
      const std::uint64_t missesBefore = cache.stats().misses;
      measuring.store(true);
      while (cache.stats().misses == missesBefore) std::this_thread::yield();
      CachedSize size;
      (void)cache.get(foreign, size);
      return CachedSize{1.0, 1.0};
    });
  });
  while (!measuring.load()) std::this_thread::yield();
  EXPECT_THROW((void)replay(documents, frames, CacheMode::kCached, 2, cache),
               std::logic_error);
  other.join();
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
