#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"

namespace morvane::vesk {
namespace {

// A flag one thread raises and others wait for, without a clock.
class Gate {
 public:
  void open() {
    open_.store(true, std::memory_order_release);
    open_.notify_all();
  }
  void waitUntilOpen() const { open_.wait(false, std::memory_order_acquire); }

 private:
  std::atomic<bool> open_{false};
};

// Spins until `condition` holds, yielding the core between looks.
template <typename Condition>
void waitUntil(Condition condition) {
  while (!condition()) std::this_thread::yield();
}

TEST(GetOrMeasure, HitReturnsTheStoredSizeAndMissMeasuresAndStores) {
  MeasurementCache cache;
  cache.set(keyFor("stored"), {1, 2});
  int measured = 0;
  const auto measure = [&] {
    ++measured;
    return CachedSize{3, 4};
  };
  EXPECT_EQ(cache.getOrMeasure(keyFor("stored"), measure).width, 1);
  EXPECT_EQ(measured, 0);
  EXPECT_EQ(cache.getOrMeasure(keyFor("new"), measure).height, 4);
  EXPECT_EQ(cache.getOrMeasure(keyFor("new"), measure).height, 4);
  EXPECT_EQ(measured, 1);
  EXPECT_EQ(markdownsInOrder(cache),
            (std::vector<std::string>{"new", "stored"}));

  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.hits, 2u);
  EXPECT_EQ(stats.misses, 1u);
  EXPECT_EQ(stats.insertions, 2u);
  EXPECT_EQ(stats.measurements, 1u);
  EXPECT_EQ(stats.waits, 0u);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

class ManyCallersTest : public ::testing::TestWithParam<int> {};

// The first caller's measurement holds on until every other caller waits for
// it, so each of them is served by it: one measurement for all.
TEST_P(ManyCallersTest, OfOneKeyMeasureItOnce) {
  const int callers = GetParam();
  MeasurementCache cache;
  const MeasurementCacheKey key = keyFor("shared");
  std::atomic<int> measured{0};
  std::vector<CachedSize> results(static_cast<std::size_t>(callers));
  std::vector<std::thread> threads;
  threads.reserve(results.size());
  for (CachedSize& result : results) {
    threads.emplace_back([&] {
      result = cache.getOrMeasure(key, [&] {
        measured.fetch_add(1);
        waitUntil([&] {
          return MeasurementCacheInspector(cache).waitingFor(key) ==
                 static_cast<std::uint64_t>(callers - 1);
        });
        return CachedSize{42, 7};
      });
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(measured.load(), 1);
  for (const CachedSize& result : results) {
    EXPECT_EQ(result.width, 42);
    EXPECT_EQ(result.height, 7);
  }
  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.measurements, 1u);
  EXPECT_EQ(stats.waits, static_cast<std::uint64_t>(callers - 1));
  EXPECT_EQ(stats.misses, static_cast<std::uint64_t>(callers));
  EXPECT_EQ(stats.insertions, 1u);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

INSTANTIATE_TEST_SUITE_P(GetOrMeasure, ManyCallersTest,
                         ::testing::Values(2, 3, 8));

// While one key's measurement is held up, every other call completes: were
// any of them to wait for it, the test would never end.
TEST(GetOrMeasure, AMeasurementInProgressHoldsUpNoOtherKey) {
  MeasurementCache cache;
  cache.set(keyFor("stored"), {1, 1});
  Gate measuring;
  Gate release;
  std::thread slow([&] {
    cache.getOrMeasure(keyFor("slow"), [&] {
      measuring.open();
      release.waitUntilOpen();
      return CachedSize{9, 9};
    });
  });
  measuring.waitUntilOpen();

  CachedSize out;
  EXPECT_TRUE(cache.get(keyFor("stored"), out));
  EXPECT_EQ(
      cache.getOrMeasure(keyFor("stored"), [] { return CachedSize{}; }).width,
      1);
  EXPECT_EQ(cache.getOrMeasure(keyFor("other"),
                               [] {
                                 return CachedSize{2, 2};
                               })
                .width,
            2);
  cache.set(keyFor("set"), {3, 3});
  cache.setLimits({100, MeasurementCache::kByteBudget});
  cache.removeMatchingMarkdown("set");
  EXPECT_FALSE(cache.get(keyFor("slow"), out));  // not stored before it ends
  release.open();
  slow.join();
  EXPECT_TRUE(cache.get(keyFor("slow"), out));
  EXPECT_EQ(out.width, 9);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

// The first measurement throws once every other caller waits for it; they go
// around, one of them measures again (and holds on until the rest wait for
// it), and all of them return its result.
TEST(GetOrMeasure, WhenMeasuringThrowsTheWaitingCallersMeasureOnceMore) {
  constexpr int kCallers = 4;
  MeasurementCache cache;
  const MeasurementCacheKey key = keyFor("fails first");
  std::atomic<int> measured{0};
  std::atomic<int> thrown{0};
  std::atomic<int> served{0};
  const auto waitingFor = [&](int waiters) {
    waitUntil([&] {
      return MeasurementCacheInspector(cache).waitingFor(key) ==
             static_cast<std::uint64_t>(waiters);
    });
  };
  std::vector<std::thread> threads;
  threads.reserve(kCallers);
  for (int i = 0; i < kCallers; ++i) {
    threads.emplace_back([&] {
      try {
        const CachedSize size = cache.getOrMeasure(key, [&] {
          if (measured.fetch_add(1) == 0) {
            waitingFor(kCallers - 1);
            throw std::runtime_error("font not found");
          }
          waitingFor(kCallers - 2);
          return CachedSize{5, 6};
        });
        if (size.width == 5 && size.height == 6) served.fetch_add(1);
      } catch (const std::runtime_error&) {
        thrown.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(measured.load(), 2);
  EXPECT_EQ(thrown.load(), 1);
  EXPECT_EQ(served.load(), kCallers - 1);
  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.measurements, 2u);
  EXPECT_EQ(stats.waits, static_cast<std::uint64_t>(kCallers - 2));
  EXPECT_EQ(stats.insertions, 1u);
  CachedSize out;
  EXPECT_TRUE(cache.get(key, out));
  EXPECT_EQ(out.width, 5);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

// A key holding a NaN equals no other, so a second caller measures it while
// the first caller's measurement of it is still running: were it to wait,
// neither would ever finish.
TEST(GetOrMeasure, AKeyThatEqualsNothingNeverWaits) {
  MeasurementCache cache;
  MeasurementCacheKey nan = keyFor("nan");
  nan.real3 = std::numeric_limits<double>::quiet_NaN();
  Gate measuring;
  Gate release;
  std::thread first([&] {
    cache.getOrMeasure(nan, [&] {
      measuring.open();
      release.waitUntilOpen();
      return CachedSize{1, 1};
    });
  });
  measuring.waitUntilOpen();
  const CachedSize second = cache.getOrMeasure(nan, [&] {
    release.open();
    return CachedSize{2, 2};
  });
  first.join();
  EXPECT_EQ(second.width, 2);
  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.measurements, 2u);
  EXPECT_EQ(stats.waits, 0u);
  EXPECT_EQ(stats.entries, 2u);  // never found, so each stores anew
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

// Many threads over a few keys, with limits changing under them: every
// result is its key's own, every call counts once as a hit or a miss, and
// every miss either measured or waited for another caller's measurement.
TEST(GetOrMeasure, ManyThreadsOverFewKeysGetTheirOwnKeysSizes) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 2000;
  MeasurementCache cache({4, MeasurementCache::kByteBudget});
  std::atomic<bool> wrong{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads + 1);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const int k = (i * 7 + t) % 6;
        const CachedSize size =
            cache.getOrMeasure(keyFor(std::to_string(k)), [k] {
              return CachedSize{static_cast<double>(k), 1};
            });
        if (size.width != k) wrong.store(true);
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      cache.setLimits(
          {static_cast<std::size_t>(1 + i % 8), MeasurementCache::kByteBudget});
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(wrong.load());
  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.hits + stats.misses,
            static_cast<std::uint64_t>(kThreads) * kCalls);
  EXPECT_EQ(stats.misses, stats.measurements + stats.waits);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

}  // namespace
}  // namespace morvane::vesk
