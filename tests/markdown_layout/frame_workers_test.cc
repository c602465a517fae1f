#include "examples/markdown_layout/frame_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

// Rounds as large as the hand-out allows, and rounds of three items, so that
// frames of several rounds run too.
constexpr std::size_t kRoundSizes[] = {FrameWorkers::kMaxItemsPerRound, 3};

// Every frame size, from none to more than the threads, many frames in a row
// on the same workers, each item exactly once, on threads numbered below
// `threads`, never two calls at once with one number.
TEST(FrameWorkers, RunsEveryItemOnceOnAThreadOfItsOwn) {
  for (const std::size_t threads : {1U, 2U, 3U, 8U}) {
    for (const std::size_t roundSize : kRoundSizes) {
      SCOPED_TRACE(std::to_string(threads) + " threads, rounds of " +
                   std::to_string(roundSize));
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
      FrameWorkers workers(threads, roundSize);
      for (int repeat = 0; repeat < 20; ++repeat) {
        for (const std::size_t items : {0U, 1U, 2U, 7U, 100U, 3U}) {
          for (auto& count : runs) count = 0;
          workers.run(items, work);
          for (std::size_t i = 0; i < runs.size(); ++i) {
            ASSERT_EQ(runs[i].load(), i < items ? 1 : 0)
                << "item " << i << " of " << items;
          }
        }
      }
      EXPECT_FALSE(badThread);
    }
  }
}

// A failing item: its exception reaches the caller, no item runs twice, and
// the next frame runs in full. With one thread, or rounds of four, which
// items were skipped is certain: all after the failing one, or all of the
// rounds after its own.
TEST(FrameWorkers, RethrowsAFailureAndRunsTheNextFrame) {
  for (const std::size_t threads : {1U, 2U, 4U}) {
    for (const std::size_t roundSize : {FrameWorkers::kMaxItemsPerRound,
                                        std::size_t{4}}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, rounds of " +
                   std::to_string(roundSize));
      std::vector<std::atomic<int>> runs(40);
      const auto work = [&](std::size_t, std::size_t item) {
        runs[item].fetch_add(1);
        if (item == 3 || item == 30) {
          throw std::runtime_error("item " + std::to_string(item));
        }
      };
      FrameWorkers workers(threads, roundSize);
      std::string message;
      try {
        workers.run(runs.size(), work);
      } catch (const std::runtime_error& error) {
        message = error.what();
      }
      const bool certain = threads == 1 || roundSize == 4;
      if (certain) {
        EXPECT_EQ(message, "item 3");
      } else {
        EXPECT_TRUE(message == "item 3" || message == "item 30") << message;
      }
      for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_LE(runs[i].load(), 1) << "item " << i;
        if (certain && i > 3) {
          EXPECT_EQ(runs[i].load(), 0) << "item " << i;
        }
      }

      for (auto& count : runs) count = 0;
      workers.run(3, work);
      for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].load(), i < 3 ? 1 : 0) << "item " << i;
      }
    }
  }
}

// An exception thrown on a worker thread reaches the caller. Item 0 waits
// until a thread other than its own has started an item, so that whichever
// thread takes item 0, another one runs items too; every call on a worker
// (thread number above 0) throws.
TEST(FrameWorkers, RethrowsAWorkersFailure) {
  constexpr std::size_t kThreads = 2;
  FrameWorkers workers(kThreads);
  std::vector<std::atomic<bool>> started(kThreads);
  const auto work = [&](std::size_t thread, std::size_t item) {
    started[thread] = true;
    if (item == 0) {
      while (!started[1 - thread]) std::this_thread::yield();
    }
    if (thread != 0) throw std::runtime_error("worker");
  };
  EXPECT_THROW(
      {
        try {
          workers.run(8, work);
        } catch (const std::runtime_error& error) {
          EXPECT_STREQ(error.what(), "worker");
          throw;
        }
      },
      std::runtime_error);
}

// Each frame's work writes plain (non-atomic) memory that belongs to that
// frame and reads the frame's input, written by the caller just before; the
// caller reads the output as soon as run() returns. Run under
// ThreadSanitizer, a missing happens-before edge either way is reported.
TEST(FrameWorkers, EachFrameSeesItsOwnInputAndTheCallerItsOutput) {
  for (const std::size_t roundSize : kRoundSizes) {
    FrameWorkers workers(3, roundSize);
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
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
