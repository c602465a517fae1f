#include "examples/markdown_layout/replay.h"

#include <chrono>
#include <ctime>
#include <memory>

#include "examples/markdown_layout/frame_workers.h"

namespace morvane::vesk::markdown_layout {
namespace {

// What one thread did, kept apart from the other threads' until the end.
struct ThreadState {
  explicit ThreadState(const ReplaySettings& settings, MeasurementCache& cache)
      : layouter(settings.mode, settings.verify, cache) {}
  BlockLayouter layouter;
  std::array<LayoutCounts, kStepKindCount> counts;
  std::optional<Mismatch> mismatch;
};

std::int64_t processCpuNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

bool before(const Mismatch& a, const Mismatch& b) {
  return a.frame != b.frame ? a.frame < b.frame : a.block < b.block;
}

}  // namespace

StepTotals& StepTotals::operator+=(const StepTotals& other) {
  counts += other.counts;
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
  std::vector<std::unique_ptr<ThreadState>> states;
  for (std::size_t t = 0; t < threads; ++t) {
    states.push_back(std::make_unique<ThreadState>(settings, cache));
  }
  // One option set per width, made once, so that no frame copies them.
  std::vector<std::unique_ptr<LayoutOptions>> optionSets;
  const auto optionsFor = [&](double width) -> const LayoutOptions* {
    for (const auto& set : optionSets) {
      if (set->maxWidth == width) return set.get();
    }
    optionSets.push_back(std::make_unique<LayoutOptions>(settings.options));
    optionSets.back()->maxWidth = width;
    return optionSets.back().get();
  };

  std::size_t frameIndex = 0;
  const Frame* frame = nullptr;
  const LayoutOptions* options = nullptr;
  FrameWorkers workers(threads, [&](std::size_t thread, std::size_t item) {
    ThreadState& state = *states[thread];
    const std::size_t block = frame->firstBlock + item;
    const BlockLayout layout = state.layouter.layOut(
        documents[frame->document].blocks[block], *options,
        state.counts[static_cast<std::size_t>(frame->kind)]);
    if (layout.mismatch) {
      const Mismatch found{frameIndex, frame->document, block, layout.size,
                           layout.measured};
      if (!state.mismatch || before(found, *state.mismatch)) {
        state.mismatch = found;
      }
    }
  });

  // Misses so far, over all threads; read only between frames.
  const auto misses = [&] {
    std::uint64_t sum = 0;
    for (const auto& state : states) {
      for (const LayoutCounts& counts : state->counts) sum += counts.misses;
    }
    return sum;
  };

  ReplayResult result;
  result.frameNanoseconds.reserve(frames.size());
  result.servedByCache.reserve(frames.size());
  const std::int64_t cpuStart = processCpuNanoseconds();
  const auto replayStart = std::chrono::steady_clock::now();
  for (frameIndex = 0; frameIndex < frames.size(); ++frameIndex) {
    frame = &frames[frameIndex];
    options = optionsFor(frame->width);
    const std::uint64_t missesBefore = misses();
    const auto start = std::chrono::steady_clock::now();
    workers.run(frame->endBlock - frame->firstBlock);
    const std::int64_t wall =
        std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now() - start)
            .count();
    StepTotals& step = result.steps[static_cast<std::size_t>(frame->kind)];
    step.wallNanoseconds += wall;
    ++step.frames;
    result.frameNanoseconds.push_back(wall);
    result.servedByCache.push_back(settings.mode == CacheMode::kCached &&
                                   frame->endBlock > frame->firstBlock &&
                                   misses() == missesBefore);
    if (progress) progress(frameIndex + 1, frames.size());
  }
  result.cpuNanoseconds = processCpuNanoseconds() - cpuStart;
  result.replayWallNanoseconds =
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now() - replayStart)
          .count();

  for (const auto& state : states) {
    for (std::size_t k = 0; k < kStepKindCount; ++k) {
      result.steps[k].counts += state->counts[k];
    }
    if (state->mismatch &&
        (!result.mismatch || before(*state->mismatch, *result.mismatch))) {
      result.mismatch = state->mismatch;
    }
  }
  return result;
}

}  // namespace morvane::vesk::markdown_layout
