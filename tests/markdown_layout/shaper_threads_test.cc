// Shapers on different threads share no state that needs synchronising,
// from the first shaping of the process on. Its own binary, so that nothing
// has shaped before the test does; built also for ThreadSanitizer, which is
// what sees state made on one thread and read on another.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/line_breaking.h"
#include "examples/markdown_layout/text_shaper.h"

namespace morvane::vesk::markdown_layout {
namespace {

std::vector<Cluster> shapeOnANewShaper(const std::string& text) {
  const LayoutOptions options;
  TextShaper shaper(kFontDirectory);
  std::vector<Cluster> clusters;
  shaper.shape(text, options.regularFont, options.fontSize, 1.0, true,
               clusters);
  return clusters;
}

// The second thread starts shaping only after the first has shaped, but the
// two are ordered by a relaxed atomic alone, which gives ThreadSanitizer no
// order: whatever the first shaping made lazily in a library and the second
// reads is reported as the race it is when threads shape at once.
TEST(ShaperThreads, FirstShapingsOfTheProcessShareNothing) {
  const std::string text = "Tavern AVA wave";
  std::atomic<bool> firstShaped{false};
  std::vector<Cluster> first;
  std::vector<Cluster> second;
  std::thread one([&] {
    first = shapeOnANewShaper(text);
    firstShaped.store(true, std::memory_order_relaxed);
  });
  std::thread two([&] {
    while (!firstShaped.load(std::memory_order_relaxed)) {
      std::this_thread::yield();
    }
    second = shapeOnANewShaper(text);
  });
  one.join();
  two.join();
  ASSERT_EQ(first.size(), text.size());
  ASSERT_EQ(second.size(), first.size());
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(second[i].advance, first[i].advance) << i;
    EXPECT_EQ(second[i].kind, first[i].kind) << i;
  }
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
