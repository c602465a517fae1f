#include "examples/markdown_layout/frame_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

TEST(FrameWorkers, RunsEveryItemOnceOnAThreadOfItsOwn) {
  for (const std::size_t threads : {1U, 2U, 4U}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    std::vector<std::atomic<int>> runs(100);
    std::atomic<bool> badThread{false};
    // Thread numbers in use at the moment, to catch two calls at once with
    // the same number.
    std::vector<std::atomic<int>> busy(threads);
    const auto work = [&](std::size_t thread, std::size_t item) {
      if (thread >= threads || busy[thread].fetch_add(1) != 0) {
        badThread = true;
        return;
      }
      runs[item].fetch_add(1);
      busy[thread].fetch_sub(1);
    };
    FrameWorkers workers(threads);
    for (const std::size_t items : {0U, 1U, 7U, 100U, 3U}) {
      for (auto& count : runs) count = 0;
      workers.run(items, work);
      for (std::size_t i = 0; i < runs.size(); ++i) {
        ASSERT_EQ(runs[i].load(), i < items ? 1 : 0) << "item " << i;
      }
    }
    EXPECT_FALSE(badThread);
  }
}

TEST(FrameWorkers, RethrowsAFailureAndRunsTheNextFrame) {
  std::atomic<int> done{0};
  const auto work = [&](std::size_t, std::size_t item) {
    if (item == 3) throw std::runtime_error("item 3 failed");
    done.fetch_add(1);
  };
  FrameWorkers workers(2);
  EXPECT_THROW(workers.run(10, work), std::runtime_error);
  EXPECT_LT(done.load(), 10);
  done = 0;
  workers.run(3, work);
  EXPECT_EQ(done.load(), 3);
}

// Each frame's work writes plain (non-atomic) memory that belongs to that
// frame and reads the frame's input, written by the caller just before; the
// caller reads the output as soon as run() returns. Run under
// ThreadSanitizer, a missing happens-before edge either way is reported.
TEST(FrameWorkers, EachFrameSeesItsOwnInputAndTheCallerItsOutput) {
  FrameWorkers workers(3);
  for (std::size_t frame = 0; frame < 200; ++frame) {
    const std::size_t items = frame % 17;
    std::vector<std::size_t> input(items);
    for (std::size_t i = 0; i < items; ++i) input[i] = frame * 1000 + i;
    std::vector<std::size_t> output(items, 0);
    workers.run(items, [&](std::size_t, std::size_t item) {
      output[item] = input[item] + 1;
    });
    for (std::size_t i = 0; i < items; ++i) {
      ASSERT_EQ(output[i], frame * 1000 + i + 1) << "frame " << frame;
    }
  }
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
