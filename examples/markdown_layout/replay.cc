#include "examples/markdown_layout/replay.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "examples/markdown_layout/frame_workers.h"

namespace morvane::vesk::markdown_layout {
namespace {

bool before(const Mismatch& a, const Mismatch& b) {
  return a.frame != b.frame ? a.frame < b.frame : a.block < b.block;
}

// What one thread did, kept apart from the other threads' until the end.
struct ThreadState {
  ThreadState(const ReplaySettings& settings, MeasurementCache& cache)
      : layouter(settings.mode, settings.verify, cache) {}

  // Lays out block `item` of `frame`, frame `frameIndex` of the session.
  void layOut(const std::vector<Document>& documents, const Frame& frame,
              std::size_t frameIndex, const LayoutOptions& options,
              std::size_t item) {
    const std::size_t block = frame.firstBlock + item;
    const BlockLayout layout =
        layouter.layOut(documents[frame.document].blocks[block], options,
                        counts[static_cast<std::size_t>(frame.kind)]);
    if (layout.mismatch) {
      const Mismatch found{frameIndex, frame.document, block, layout.size,
                           layout.measured};
      if (!mismatch || before(found, *mismatch)) mismatch = found;
    }
  }

  BlockLayouter layouter;
  std::array<LayoutCounts, kStepKindCount> counts;
  std::optional<Mismatch> mismatch;  // the earliest this thread saw
};

std::int64_t processCpuNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

std::int64_t nanosecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

CacheTraffic CacheTraffic::between(const MeasurementCacheStats& before,
                                   const MeasurementCacheStats& after) {
  CacheTraffic traffic;
  traffic.hits = after.hits - before.hits;
  traffic.misses =
      after.misses - before.misses + (after.refusals - before.refusals);
  traffic.waits = after.waits - before.waits;
  traffic.measurements = after.measurements - before.measurements;
  traffic.evictionsByEntryLimit =
      after.evictionsByEntryLimit - before.evictionsByEntryLimit;
  traffic.evictionsByByteBudget =
      after.evictionsByByteBudget - before.evictionsByByteBudget;
  return traffic;
}

CacheTraffic& CacheTraffic::operator+=(const CacheTraffic& other) {
  hits += other.hits;
  misses += other.misses;
  waits += other.waits;
  measurements += other.measurements;
  evictionsByEntryLimit += other.evictionsByEntryLimit;
  evictionsByByteBudget += other.evictionsByByteBudget;
  return *this;
}

StepTotals& StepTotals::operator+=(const StepTotals& other) {
  counts += other.counts;
  cache += other.cache;
  frames += other.frames;
  wallNanoseconds += other.wallNanoseconds;
  return *this;
}

StepTotals ReplayResult::total() const {
  StepTotals sum;
  for (const StepTotals& step : steps) sum += step;
  return sum;
}

ReplayResult replaySession(const std::vector<Document>& documents,
                           const std::vector<Frame>& frames,
                           const ReplaySettings& settings,
                           MeasurementCache& cache,
                           const ReplayProgress& progress) {
  const std::size_t threads = settings.threads > 0 ? settings.threads : 1;
  const bool cached = settings.mode == CacheMode::kCached;
  std::vector<std::unique_ptr<ThreadState>> states;
  for (std::size_t t = 0; t < threads; ++t) {
    states.push_back(std::make_unique<ThreadState>(settings, cache));
  }
  // One option set per width, made once, so that no frame copies them.
  std::vector<std::unique_ptr<LayoutOptions>> optionSets;
  const auto optionsFor = [&](double width) -> const LayoutOptions& {
    for (const auto& set : optionSets) {
      if (set->maxWidth == width) return *set;
    }
    optionSets.push_back(std::make_unique<LayoutOptions>(settings.options));
    optionSets.back()->maxWidth = width;
    return *optionSets.back();
  };

  FrameWorkers workers(threads);
  ReplayResult result;
  result.frameNanoseconds.reserve(frames.size());
  result.servedByCache.reserve(frames.size());
  const std::int64_t cpuStart = processCpuNanoseconds();
  const auto replayStart = std::chrono::steady_clock::now();
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const Frame& frame = frames[f];
    const LayoutOptions& options = optionsFor(frame.width);
    const MeasurementCacheStats statsBefore =
        cached ? cache.stats() : MeasurementCacheStats{};
    const auto start = std::chrono::steady_clock::now();
    workers.run(frame.endBlock - frame.firstBlock,
                [&](std::size_t thread, std::size_t item) {
                  states[thread]->layOut(documents, frame, f, options, item);
                });
    const std::int64_t wall = nanosecondsSince(start);
    const CacheTraffic traffic =
        cached ? CacheTraffic::between(statsBefore, cache.stats())
               : CacheTraffic{};
    StepTotals& step = result.steps[static_cast<std::size_t>(frame.kind)];
    step.wallNanoseconds += wall;
    step.cache += traffic;
    ++step.frames;
    result.frameNanoseconds.push_back(wall);
    result.servedByCache.push_back(
        cached && frame.endBlock > frame.firstBlock && traffic.misses == 0);
    if (progress) progress(f + 1, frames.size());
  }
  result.cpuNanoseconds = processCpuNanoseconds() - cpuStart;
  result.replayWallNanoseconds = nanosecondsSince(replayStart);

  for (const auto& state : states) {
    for (std::size_t k = 0; k < kStepKindCount; ++k) {
      result.steps[k].counts += state->counts[k];
    }
    if (state->mismatch &&
        (!result.mismatch || before(*state->mismatch, *result.mismatch))) {
      result.mismatch = state->mismatch;
    }
  }
  const StepTotals total = result.total();
  const CacheTraffic& seen = total.cache;
  const std::uint64_t measured = cached ? total.counts.measurements : 0;
  if (seen.hits + seen.waits != total.counts.hits ||
      seen.misses - seen.waits != total.counts.misses ||
      seen.measurements != measured) {
    throw std::logic_error(
        "the cache's statistics (" + std::to_string(seen.hits) + " hits, " +
        std::to_string(seen.misses) + " misses, " + std::to_string(seen.waits) +
        " of them waited, " + std::to_string(seen.measurements) +
        " measurements) disagree with the layouters' count (" +
        std::to_string(total.counts.hits) + " answered, " +
        std::to_string(total.counts.misses) + " measured)");
  }
  return result;
}

std::string describeMismatch(const Mismatch& mismatch,
                             const std::vector<Document>& documents) {
  const Document& document = documents[mismatch.document];
  std::ostringstream text;
  text.precision(17);
  text << "verify: " << document.path << " block " << mismatch.block
       << " (line " << document.blocks[mismatch.block].firstLine << "): cached "
       << mismatch.cached.width << " x " << mismatch.cached.height
       << " px, measured " << mismatch.measured.width << " x "
       << mismatch.measured.height << " px";
  return text.str();
}

}  // namespace morvane::vesk::markdown_layout
