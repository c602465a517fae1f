// Records histories of concurrent calls on one cache, its limits changing
// among them, and checks that each is linearizable: some order of the calls,
// keeping every call that returned before another began ahead of it, gives on
// the sequential reference model exactly the results the threads saw and
// exactly the final contents, in recency order, that the cache holds.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cache/measurement_cache.h"
#include "cache/thread_number.h"
#include "tests/cache_audit.h"
#include "tests/reference_cache.h"

namespace morvane::vesk {
namespace {

using testing::ReferenceCache;
using testing::sameKey;
using testing::sameSize;

// Histories per thread count; ThreadSanitizer runs each call some ten times
// slower, and checks what it runs.
#if defined(__SANITIZE_THREAD__)
constexpr int kSanitized = 1;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kSanitized = 1;
#else
constexpr int kSanitized = 0;
#endif
#else
constexpr int kSanitized = 0;
#endif
// Histories for 2, 4 and 8 threads: the search copies the model at every
// step, so more threads cost more per history.
int historiesFor(int threads) {
  const int histories = threads == 2 ? 400 : threads == 4 ? 200 : 120;
  return kSanitized != 0 ? histories / 6 : histories;
}

constexpr std::size_t kKiB = 1024;

// The keys the threads call with. Two share a markdown, so that one removal
// drops both; the large one is charged 524,848 bytes, more than the room the
// filled cache has left, so that storing it evicts by bytes. Texts of some
// KiB make each call long enough for the threads' calls to overlap often.
std::vector<MeasurementCacheKey> contendedKeys() {
  std::vector<MeasurementCacheKey> keys(4);
  keys[0] = keyOfLength(16 * kKiB, 's');
  keys[1] = keyOfLength(16 * kKiB, 's');
  keys[1].integer = 1;
  keys[2] = keyOfLength(16 * kKiB, 'o');
  keys[3] = keyOfLength(256 * kKiB, 'L');
  return keys;
}

enum class Operation { kGet, kSet, kRemove, kGetOrMeasure, kSetLimits, kClear };

// The limits kSetLimits chooses between, by the call's key: the default, and
// smaller ones that evict by count and by bytes from a cache the Filler kept
// full.
constexpr std::array<MeasurementCacheLimits, 2> kLimits = {
    MeasurementCacheLimits{},
    MeasurementCacheLimits{509, MeasurementCache::kByteBudget - 600 * kKiB}};

struct Call {
  Operation operation;
  int key;           // into contendedKeys(), or kLimits for kSetLimits
  CachedSize value;  // stored by kSet, measured by kGetOrMeasure; unique
  // Ticks of one clock shared by all threads, taken just before the call and
  // just after it returned.
  std::uint64_t invoked = 0;
  std::uint64_t responded = 0;
  // What a kGet saw; for kGetOrMeasure, whether it returned without
  // measuring (a hit, or another caller's measurement).
  bool hit = false;
  CachedSize out{-1, -1};
};

using History = std::vector<std::vector<Call>>;  // calls of each thread

void run(const std::vector<MeasurementCacheKey>& keys, MeasurementCache& cache,
         Call& call) {
  switch (call.operation) {
    case Operation::kGet:
      call.hit = cache.get(keys[call.key], call.out);
      break;
    case Operation::kSet:
      cache.set(keys[call.key], call.value);
      break;
    case Operation::kRemove:
      cache.removeMatchingMarkdown(keys[call.key].markdown);
      break;
    case Operation::kGetOrMeasure: {
      bool measured = false;
      call.out = cache.getOrMeasure(keys[call.key], [&] {
        measured = true;
        return call.value;
      });
      call.hit = !measured;
      break;
    }
    case Operation::kSetLimits:
      cache.setLimits(kLimits[static_cast<std::size_t>(call.key)]);
      break;
    case Operation::kClear:
      cache.clear();
      break;
  }
}

// Applies `call` to the model; false when the model's result differs from
// what the call returned on the cache.
bool replay(const std::vector<MeasurementCacheKey>& keys, ReferenceCache& model,
            const Call& call) {
  switch (call.operation) {
    case Operation::kGet: {
      CachedSize out{-1, -1};
      const bool hit = model.get(keys[call.key], out);
      return hit == call.hit && sameSize(out, call.out);
    }
    case Operation::kSet:
      model.set(keys[call.key], call.value);
      return true;
    case Operation::kRemove:
      model.removeMatchingMarkdown(keys[call.key].markdown);
      return true;
    case Operation::kGetOrMeasure: {
      // A call that measured missed when it looked and stored when it was
      // done, with other calls possibly between: it takes effect as a store
      // of its own value. One that did not measure takes effect as a hit,
      // on the entry stored by the call it waited for if it waited.
      if (!call.hit) {
        model.set(keys[call.key], call.value);
        return sameSize(call.out, call.value);
      }
      CachedSize out{-1, -1};
      return model.get(keys[call.key], out) && sameSize(out, call.out);
    }
    case Operation::kSetLimits: {
      const MeasurementCacheLimits& limits =
          kLimits[static_cast<std::size_t>(call.key)];
      model.setLimits(limits.maxEntries, limits.byteBudget);
      return true;
    }
    case Operation::kClear:
      model.clear();
      return true;
  }
  return false;
}

struct StoredEntry {
  const MeasurementCacheKey* key;
  CachedSize size;
};

bool sameContents(const ReferenceCache& model,
                  const std::vector<StoredEntry>& stored) {
  const auto& entries = model.entries();
  if (entries.size() != stored.size()) return false;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (!sameSize(entries[i].size, stored[i].size) ||
        !sameKey(entries[i].key(), *stored[i].key)) {
      return false;
    }
  }
  return true;
}

// Depth-first search over the orders that keep each thread's program order
// and real-time precedence, pruned at the first result that differs.
class LinearizationSearch {
 public:
  LinearizationSearch(const std::vector<MeasurementCacheKey>& keys,
                      const History& history,
                      const std::vector<StoredEntry>& finalContents)
      : keys_(keys),
        history_(history),
        finalContents_(finalContents),
        next_(history.size(), 0) {}

  // Finds a linearization from `model` and leaves the model it ends in in
  // `linearized`.
  bool find(const ReferenceCache& model, ReferenceCache& linearized) {
    bool allDone = true;
    for (std::size_t t = 0; t < history_.size(); ++t) {
      if (next_[t] == history_[t].size()) continue;
      allDone = false;
      const Call& call = history_[t][next_[t]];
      if (!mayGoNext(call)) continue;
      ReferenceCache after = model;
      if (!replay(keys_, after, call)) continue;
      ++next_[t];
      const bool found = find(after, linearized);
      --next_[t];
      if (found) return true;
    }
    if (allDone && sameContents(model, finalContents_)) {
      linearized = model;
      return true;
    }
    return false;
  }

 private:
  // No pending call of another thread returned before `call` was invoked.
  [[nodiscard]] bool mayGoNext(const Call& call) const {
    for (std::size_t t = 0; t < history_.size(); ++t) {
      if (next_[t] < history_[t].size() &&
          history_[t][next_[t]].responded < call.invoked) {
        return false;
      }
    }
    return true;
  }

  const std::vector<MeasurementCacheKey>& keys_;
  const History& history_;
  const std::vector<StoredEntry>& finalContents_;
  std::vector<std::size_t> next_;
};

std::string describe(const History& history) {
  static constexpr std::array<const char*, 6> kNames{
      "get", "set", "remove", "getOrMeasure", "setLimits", "clear"};
  std::ostringstream out;
  for (std::size_t t = 0; t < history.size(); ++t) {
    out << "thread " << t << ":";
    for (const Call& call : history[t]) {
      out << " [" << call.invoked << "-" << call.responded << "] "
          << kNames[static_cast<std::size_t>(call.operation)] << "(key "
          << call.key;
      if (call.operation == Operation::kSet ||
          call.operation == Operation::kGetOrMeasure) {
        out << ", " << call.value.height;
      }
      if (call.operation == Operation::kGet ||
          call.operation == Operation::kGetOrMeasure) {
        out << ") -> " << (call.hit ? "hit " : "miss ") << call.out.height;
      } else {
        out << ")";
      }
    }
    out << "\n";
  }
  return out.str();
}

// Keeps the cache (and the model beside it) at 512 entries and within one
// large key's charge of the byte budget, with keys of their own: small ones
// until 512 are stored, then large ones, each evicting a small one, while
// they fit.
class Filler {
 public:
  void topUp(MeasurementCache& cache, ReferenceCache& model) {
    while (model.entries().size() < MeasurementCache::kMaxEntries) {
      store(cache, model, keyFor("filler " + std::to_string(next_++)));
    }
    // One byte longer than the large contended key, so that the model never
    // compares their texts.
    MeasurementCacheKey large = keyOfLength(256 * kKiB + 1, 'F');
    while (model.bytes() + entryCharge(large) <=
           MeasurementCache::kByteBudget) {
      large.integer = static_cast<std::int32_t>(next_++);
      store(cache, model, large);
    }
  }

 private:
  static void store(MeasurementCache& cache, ReferenceCache& model,
                    const MeasurementCacheKey& key) {
    cache.set(key, {0, 0});
    model.set(key, {0, 0});
  }

  int next_ = 0;
};

// 2, 4 or 8 threads; more threads make fewer calls each, so that the search
// for a linearization stays small.
class MeasurementCacheLinearizability : public ::testing::TestWithParam<int> {};

TEST_P(MeasurementCacheLinearizability, ConcurrentHistoriesMatchTheModel) {
  const int threadCount = GetParam();
  const int mostCalls = threadCount == 2 ? 3 : 2;
  const int leastCalls = threadCount == 8 ? 1 : 2;
  const int kHistories = historiesFor(threadCount);
  const std::vector<MeasurementCacheKey> keys = contendedKeys();
  MeasurementCache cache;
  ReferenceCache model;
  Filler filler;
  std::mt19937 random(20261207);
  std::uint64_t overlappingHistories = 0;
  std::uint64_t evictedForCount = 0;
  std::uint64_t evictedForBytes = 0;

  for (int round = 0; round < kHistories; ++round) {
    cache.setLimits(kLimits[0]);
    model.setLimits(kLimits[0].maxEntries, kLimits[0].byteBudget);
    filler.topUp(cache, model);
    ASSERT_TRUE(sameContents(model, [&] {
      std::vector<StoredEntry> stored;
      cache.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
        stored.push_back({&entry.key, entry.size});
      });
      return stored;
    }()));

    // Mostly hits, which race with the evictions, removals, shrinking limits
    // and clears of the same entries.
    History history(static_cast<std::size_t>(threadCount));
    int callNumber = 0;
    for (std::vector<Call>& calls : history) {
      const auto spread = static_cast<unsigned>(mostCalls - leastCalls + 1);
      calls.resize(static_cast<std::size_t>(leastCalls) + random() % spread);
      for (Call& call : calls) {
        const unsigned kind = random() % 24;
        call.operation = kind < 10   ? Operation::kGet
                         : kind < 15 ? Operation::kSet
                         : kind < 18 ? Operation::kGetOrMeasure
                         : kind < 20 ? Operation::kSetLimits
                         : kind < 23 ? Operation::kRemove
                                     : Operation::kClear;
        call.key = static_cast<int>(
            random() % (call.operation == Operation::kSetLimits ? kLimits.size()
                                                                : keys.size()));
        call.value = {static_cast<double>(round), double(++callNumber)};
      }
    }

    std::atomic<std::uint64_t> clock{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    threads.reserve(history.size());
    for (std::vector<Call>& calls : history) {
      threads.emplace_back([&, &calls = calls] {
        // Numbered as the threads start, before the race, so that the slot
        // a thread's hits are logged in does not follow from which thread
        // calls first: replaying the logs one after another, rather than in
        // the order of the hits, then shows.
        currentThreadNumber();
        // Start together: spin, yielding now and then in case there are
        // fewer cores than threads.
        ready.fetch_add(1);
        for (int spin = 1; ready.load() < static_cast<int>(history.size());
             ++spin) {
          if (spin % 256 == 0) std::this_thread::yield();
        }
        for (Call& call : calls) {
          call.invoked = clock.fetch_add(1);
          run(keys, cache, call);
          call.responded = clock.fetch_add(1);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();

    std::vector<StoredEntry> finalContents;
    cache.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
      finalContents.push_back({&entry.key, entry.size});
    });
    ReferenceCache linearized;
    LinearizationSearch search(keys, history, finalContents);
    ASSERT_TRUE(search.find(model, linearized))
        << "history " << round << " is not linearizable:\n"
        << describe(history);
    evictedForCount +=
        linearized.counts().evictedForCount - model.counts().evictedForCount;
    evictedForBytes +=
        linearized.counts().evictedForBytes - model.counts().evictedForBytes;
    model = std::move(linearized);

    bool overlapped = false;
    for (std::size_t a = 0; a < history.size(); ++a) {
      for (std::size_t b = a + 1; b < history.size(); ++b) {
        for (const Call& x : history[a]) {
          for (const Call& y : history[b]) {
            overlapped = overlapped ||
                         (x.invoked < y.responded && y.invoked < x.responded);
          }
        }
      }
    }
    overlappingHistories += overlapped ? 1 : 0;
    if (round % 100 == 0) {
      ASSERT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
    }
  }
  EXPECT_TRUE(MeasurementCacheInspector(cache).invariantsHold());
  // The histories exercised what they are meant to.
  EXPECT_GT(overlappingHistories, 0u);
  EXPECT_GT(evictedForCount, 0u);
  EXPECT_GT(evictedForBytes, 0u);
  std::printf(
      "%d threads, %d histories, %llu with overlapping calls; their calls "
      "evicted %llu entries for the entry limit and %llu for the byte "
      "budget\n",
      threadCount, kHistories, static_cast<unsigned long long>(overlappingHistories),
      static_cast<unsigned long long>(evictedForCount),
      static_cast<unsigned long long>(evictedForBytes));
}

INSTANTIATE_TEST_SUITE_P(Threads, MeasurementCacheLinearizability,
                         ::testing::Values(2, 4, 8));

}  // namespace
}  // namespace morvane::vesk
