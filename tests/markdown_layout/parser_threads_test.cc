// The first parses of the process, on several threads at once: what the
// parsers set up once (cmark-gfm's extension registry) is set up once and
// seen by every thread. In the binary that has not parsed before; built
// also for ThreadSanitizer, which reports a setup made on one thread and
// read on another without order.

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "examples/markdown_layout/block_extraction.h"

namespace morvane::vesk::markdown_layout {
namespace {

TEST(ParserThreads, FirstParsesOfTheProcessRunAtOnce) {
  constexpr std::size_t kThreads = 4;
  std::latch start(kThreads);
  std::vector<std::vector<Block>> listings(kThreads);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      listings[i] = extractBlocks("text\n| h | i |\n|---|---|\n| r | s |\n");
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::vector<Block>& blocks : listings) {
    ASSERT_EQ(blocks.size(), 3U);
    EXPECT_EQ(blocks[0].kind, BlockKind::kParagraph);
    EXPECT_EQ(blocks[1].kind, BlockKind::kTableHeaderRow);
    EXPECT_EQ(blocks[2].kind, BlockKind::kTableRow);
    EXPECT_EQ(blocks[2].tableColumns, 2U);
  }
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
