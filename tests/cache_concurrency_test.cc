#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"

namespace morvane::vesk {
namespace {

// Each key's value is derived from the key, so whatever interleaving ran, a
// hit must return exactly that value.
MeasurementCacheKey keyNumber(int id) {
  MeasurementCacheKey key{};
  // A few large texts make byte-budget eviction happen alongside the count
  // limit; the rest are small.
  key.markdown = id % 97 == 0 ? std::string(std::size_t{700} * 1024,
                                            static_cast<char>('a' + id % 26))
                              : "doc " + std::to_string(id);
  key.integer = id;
  return key;
}

TEST(MeasurementCacheConcurrency,
     SharedInstanceStaysConsistentUnderContention) {
  constexpr int kThreads = 4;
  constexpr int kOperationsPerThread = 3000;
  constexpr int kDistinctKeys = 800;  // more than the entry limit

  std::vector<MeasurementCacheKey> keys;
  keys.reserve(kDistinctKeys);
  for (int id = 0; id < kDistinctKeys; ++id) keys.push_back(keyNumber(id));

  std::atomic<int> wrongValues{0};
  std::atomic<int> hits{0};
  std::atomic<int> overfull{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      MeasurementCache& cache = MeasurementCache::shared();
      std::mt19937 random(1234 + t);
      std::uniform_int_distribution<int> pickKey(0, kDistinctKeys - 1);
      std::uniform_int_distribution<int> pickOperation(0, 99);
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kOperationsPerThread; ++i) {
        const int id = pickKey(random);
        const int operation = pickOperation(random);
        if (operation < 55) {
          CachedSize out;
          if (cache.get(keys[id], out)) {
            ++hits;
            if (out.width != id || out.height != -id) ++wrongValues;
          }
        } else if (operation < 94) {
          cache.set(keys[id], {static_cast<double>(id), -double(id)});
        } else if (operation < 98) {
          cache.removeMatchingMarkdown(keys[id].markdown);
        } else if (operation < 99) {
          if (cache.entryCount() > MeasurementCache::kMaxEntries) ++overfull;
        } else if (id % 8 == 0) {
          cache.clear();
        }
      }
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();

  MeasurementCache& cache = MeasurementCache::shared();
  EXPECT_EQ(wrongValues.load(), 0);
  EXPECT_EQ(overfull.load(), 0);
  EXPECT_GT(hits.load(), 0);
  EXPECT_GT(cache.entryCount(), 0u);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
  cache.forEachEntry([](const MeasurementCache::CacheEntry& entry) {
    EXPECT_EQ(entry.size.width, entry.key.integer);
  });
}

// clear() and entryCount() take the lock like every other call: run in a
// loop on one thread while two others store and read, they must leave the
// cache whole (and, under ThreadSanitizer, race with nothing).
TEST(MeasurementCacheConcurrency, ClearAndEntryCountAreSafeFromAnyThread) {
  MeasurementCache cache;
  std::vector<MeasurementCacheKey> keys;
  keys.reserve(600);
  for (int id = 0; id < 600; ++id) keys.push_back(keyNumber(id * 97 + 1));
  std::atomic<bool> done{false};
  std::atomic<int> overfull{0};
  std::thread clearer([&] {
    while (!done.load()) {
      if (cache.entryCount() > MeasurementCache::kMaxEntries) ++overfull;
      cache.clear();
    }
  });
  std::vector<std::thread> writers;
  writers.reserve(2);
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&, t] {
      CachedSize out;
      for (int round = 0; round < 20; ++round) {
        for (auto i = static_cast<std::size_t>(t); i < keys.size(); i += 2) {
          cache.set(keys[i], {1, 1});
          cache.get(keys[i], out);
        }
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  done = true;
  clearer.join();
  EXPECT_EQ(overfull.load(), 0);
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
}

// A key charged more than the budget is refused before the lock: set() returns
// even while another thread holds the lock.
TEST(MeasurementCacheConcurrency, RefusedSetDoesNotWaitForTheLock) {
  MeasurementCache cache;
  const MeasurementCacheKey oversized =
      keyFor(std::string(MeasurementCache::kByteBudget / 2, 'o'));
  MeasurementCacheInspector::Lock& lock = MeasurementCacheInspector(cache).lock();
  lock.lock();
  std::future<void> refused = std::async(std::launch::async, [&] {
    cache.set(oversized, {1, 1});
  });
  const bool returned =
      refused.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  lock.unlock();
  refused.wait();
  EXPECT_TRUE(returned) << "set() of a refused key waited for the lock";
  EXPECT_EQ(cache.entryCount(), 0u);
}

}  // namespace
}  // namespace morvane::vesk
