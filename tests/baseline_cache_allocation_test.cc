#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "baseline/measurement_cache.h"
#include "tests/cache_test_helpers.h"
#include "tests/counting_allocator.h"

namespace morvane::vesk {
namespace {

using testing::disarmAllocationFailure;
using testing::failNthAllocationOnThisThread;

// Fails each allocation of an inserting (and, with 512 entries stored,
// evicting) set() in turn: the cache must be left exactly as it was.
TEST(BaselineCacheAllocationFailure, SetLeavesTheCacheAsItWas) {
  for (const int stored : {2, 512}) {
    MeasurementCacheKey key{};
    key.markdown.assign(4096, 'n');
    int failures = 0;
    for (int n = 1;; ++n) {
      MeasurementCache cache;
      MeasurementCacheKey filler{};
      for (int i = 0; i < stored; ++i) {
        filler.markdown = "filler " + std::to_string(i);
        cache.set(filler, {1, 1});
      }
      const std::vector<std::string> before = markdownsInOrder(cache);
      failNthAllocationOnThisThread(n);
      try {
        cache.set(key, {2, 2});
      } catch (const std::bad_alloc&) {
      }
      if (!disarmAllocationFailure()) {
        EXPECT_EQ(markdownsInOrder(cache).front(), key.markdown);
        break;
      }
      ++failures;
      EXPECT_EQ(markdownsInOrder(cache), before) << "allocation " << n;
      EXPECT_EQ(cache.entryCount(), before.size()) << "allocation " << n;
      cache.set(key, {3, 3});
      EXPECT_EQ(cache.entryCount(), std::min<std::size_t>(stored + 1, 512));
    }
    EXPECT_GE(failures, 4) << stored << " entries stored";
  }
}

}  // namespace
}  // namespace morvane::vesk
