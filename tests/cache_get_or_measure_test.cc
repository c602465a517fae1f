#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <future>
#include <latch>
#include <limits>
#include <ostream>
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

// Spins until `waiters` callers have parked waiting for `key`'s measurement.
void waitUntilParked(const MeasurementCache& cache,
                     const MeasurementCacheKey& key, std::uint64_t waiters) {
  waitUntil([&] {
    return MeasurementCacheInspector(cache).waitingFor(key) == waiters;
  });
}

// A thread that join() waits for at most a minute: a call that never
// returns (a waiter that nobody wakes) fails the test instead of hanging
// it, and ends the process, since that thread can never be joined.
class BoundedThread {
 public:
  template <typename Body>
  explicit BoundedThread(Body body)
      : thread_([this, body]() mutable {
          body();
          done_.set_value();
        }) {}
  BoundedThread(const BoundedThread&) = delete;
  BoundedThread& operator=(const BoundedThread&) = delete;
  ~BoundedThread() { join(); }

  void join() {
    if (!thread_.joinable()) return;
    if (finished_.wait_for(std::chrono::minutes(1)) !=
        std::future_status::ready) {
      ADD_FAILURE() << "a getOrMeasure() call never returned";
      std::fflush(stdout);
      std::abort();
    }
    thread_.join();
  }

 private:
  std::promise<void> done_;
  std::future<void> finished_ = done_.get_future();
  std::thread thread_;
};

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

// The first caller's measurement holds on until every other caller has
// parked waiting for it, so each of them is served by it, and woken by it
// (a single parked waiter too): one measurement for all.
TEST_P(ManyCallersTest, OfOneKeyMeasureItOnce) {
  const int callers = GetParam();
  MeasurementCache cache;
  const MeasurementCacheKey key = keyFor("shared");
  std::atomic<int> measured{0};
  std::vector<CachedSize> results(static_cast<std::size_t>(callers));
  std::deque<BoundedThread> threads;
  for (CachedSize& result : results) {
    threads.emplace_back([&] {
      result = cache.getOrMeasure(key, [&] {
        measured.fetch_add(1);
        waitUntilParked(cache, key, static_cast<std::uint64_t>(callers - 1));
        return CachedSize{42, 7};
      });
    });
  }
  for (BoundedThread& thread : threads) thread.join();

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

// The first measurement throws once every other caller has parked waiting
// for it; they wake, go around, one of them measures again (and holds on
// until the rest have parked again), and all of them return its result.
TEST(GetOrMeasure, WhenMeasuringThrowsTheWaitingCallersMeasureOnceMore) {
  constexpr int kCallers = 4;
  MeasurementCache cache;
  const MeasurementCacheKey key = keyFor("fails first");
  std::atomic<int> measured{0};
  std::atomic<int> thrown{0};
  std::atomic<int> served{0};
  const auto waitingFor = [&](int waiters) {
    waitUntilParked(cache, key, static_cast<std::uint64_t>(waiters));
  };
  std::deque<BoundedThread> threads;
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
  for (BoundedThread& thread : threads) thread.join();

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

// A ring of `threads` callers over `caches` caches: caller i measures key i
// (stored in cache i % caches) and, inside its measuring function, asks for
// key i + 1, the last caller for key 0. Each asks only once the caller
// before it has parked waiting for its key, so the last one's call would
// close the ring: it measures key 0 itself instead, and every wait ends.
// With one caller, the ring is a call asking for the key it measures.
struct Ring {
  int threads;
  int caches;
};

void PrintTo(const Ring& ring, std::ostream* out) {
  *out << ring.threads << " threads, " << ring.caches << " caches";
}

class CycleTest : public ::testing::TestWithParam<Ring> {};

TEST_P(CycleTest, TheCallThatWouldCloseACycleMeasuresInstead) {
  const int n = GetParam().threads;
  std::deque<MeasurementCache> caches(
      static_cast<std::size_t>(GetParam().caches));
  const auto cacheOf = [&](int i) -> MeasurementCache& {
    return caches[static_cast<std::size_t>(i) % caches.size()];
  };
  const auto keyOf = [](int i) { return keyFor("key " + std::to_string(i)); };
  const auto measureKey = [](int i) {
    return [i] { return CachedSize{static_cast<double>(i), 1}; };
  };
  std::latch allMeasuring(n);
  {
    std::deque<BoundedThread> threads;
    for (int i = 0; i < n; ++i) {
      threads.emplace_back([&, i] {
        const int next = (i + 1) % n;
        const auto askForNext = [&] {
          allMeasuring.arrive_and_wait();
          if (i > 0) waitUntilParked(cacheOf(i), keyOf(i), 1);
          const CachedSize inner =
              cacheOf(next).getOrMeasure(keyOf(next), measureKey(next));
          EXPECT_EQ(inner.width, next);
          return measureKey(i)();
        };
        EXPECT_EQ(cacheOf(i).getOrMeasure(keyOf(i), askForNext).width, i);
      });
    }
  }
  // Each key measured once, key 0 twice (stored twice); every caller but the
  // last waited.
  const auto total = [&](std::uint64_t MeasurementCacheStats::*counter) {
    std::uint64_t sum = 0;
    for (const MeasurementCache& cache : caches) sum += cache.stats().*counter;
    return sum;
  };
  const auto times = [](int count) {
    return static_cast<std::uint64_t>(count);
  };
  EXPECT_EQ(total(&MeasurementCacheStats::hits), 0u);
  EXPECT_EQ(total(&MeasurementCacheStats::misses), times(2 * n));
  EXPECT_EQ(total(&MeasurementCacheStats::measurements), times(n + 1));
  EXPECT_EQ(total(&MeasurementCacheStats::waits), times(n - 1));
  EXPECT_EQ(total(&MeasurementCacheStats::entries), times(n));
  EXPECT_EQ(total(&MeasurementCacheStats::updates), 1u);
  for (const MeasurementCache& cache : caches) {
    EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
  }
}

INSTANTIATE_TEST_SUITE_P(GetOrMeasure, CycleTest,
                         ::testing::Values(Ring{1, 1}, Ring{2, 1}, Ring{3, 1},
                                           Ring{2, 2}, Ring{3, 2}),
                         [](const auto& info) {
                           return std::to_string(info.param.threads) +
                                  "Threads" +
                                  std::to_string(info.param.caches) + "Caches";
                         });

// Three callers park waiting for a measurement whose measuring function then
// clears the cache; a fourth caller waits for it after the clear. A call is
// counted on the side of clear() where it missed: the measurer and the first
// three before it, so not at all, the fourth after it, as a miss that waited.
TEST(GetOrMeasure, ACallStraddlingClearIsCountedWhereItMissed) {
  MeasurementCache cache;
  const MeasurementCacheKey key = keyFor("cleared meanwhile");
  Gate measuring;
  Gate cleared;
  std::deque<BoundedThread> threads;
  threads.emplace_back([&] {
    cache.getOrMeasure(key, [&] {
      measuring.open();
      waitUntilParked(cache, key, 3);
      cache.clear();
      cleared.open();
      waitUntilParked(cache, key, 4);
      return CachedSize{8, 8};
    });
  });
  const auto waitForIt = [&] {
    threads.emplace_back([&] {
      EXPECT_EQ(cache.getOrMeasure(key, [] { return CachedSize{}; }).width, 8);
    });
  };
  measuring.waitUntilOpen();
  for (int i = 0; i < 3; ++i) waitForIt();
  cleared.waitUntilOpen();
  waitForIt();
  for (BoundedThread& thread : threads) thread.join();

  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.misses, 1u);
  EXPECT_EQ(stats.waits, 1u);
  EXPECT_EQ(stats.measurements, 0u);
  EXPECT_EQ(stats.measurementNanoseconds, 0u);
  EXPECT_EQ(stats.misses, stats.measurements + stats.waits);
  EXPECT_EQ(stats.hits, 0u);
  EXPECT_EQ(stats.insertions, 1u);  // the store came after the clear
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

// The measurer sets the key, then throws, while a caller has parked waiting
// for it: that caller goes around, finds the stored size and returns it,
// counted once, as the miss it already was.
TEST(GetOrMeasure, AWaiterServedBySetAfterItsMeasurementThrewCountsOnce) {
  MeasurementCache cache;
  const MeasurementCacheKey key = keyFor("set, then thrown");
  Gate measuring;
  BoundedThread measurer([&] {
    EXPECT_THROW(cache.getOrMeasure(key,
                                    [&]() -> CachedSize {
                                      measuring.open();
                                      waitUntilParked(cache, key, 1);
                                      cache.set(key, {3, 3});
                                      throw std::runtime_error("no font");
                                    }),
                 std::runtime_error);
  });
  measuring.waitUntilOpen();
  BoundedThread waiter([&] {
    EXPECT_EQ(cache
                  .getOrMeasure(key,
                                [] {
                                  ADD_FAILURE() << "measured again";
                                  return CachedSize{};
                                })
                  .width,
              3);
  });
  measurer.join();
  waiter.join();

  const MeasurementCacheStats stats = cache.stats();
  EXPECT_EQ(stats.hits, 0u);
  EXPECT_EQ(stats.misses, 2u);
  EXPECT_EQ(stats.measurements, 1u);
  EXPECT_EQ(stats.waits, 0u);  // served by set(), not by a measurement
  EXPECT_EQ(stats.insertions, 1u);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

}  // namespace
}  // namespace morvane::vesk
