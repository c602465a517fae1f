#ifndef VESK_BENCHMARKS_SHARED_LOOKUPS_H_
#define VESK_BENCHMARKS_SHARED_LOOKUPS_H_

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

// The loop every lookup case runs, whatever answers the lookups (the cache,
// the unshared floor, LevelDB, RocksDB), so that their timings divide.

namespace morvane::vesk {

// Where this thread starts in a run's `count` keys: threads start spread
// evenly, so that they do not all ask for the same key at once.
inline std::size_t firstKeyOfThread(const benchmark::State& state,
                                    std::size_t count) {
  return count * static_cast<std::size_t>(state.thread_index()) /
         static_cast<std::size_t>(state.threads());
}

// The entries the store held; the same for every thread of a run.
inline void countEntries(benchmark::State& state, std::size_t entries) {
  state.counters["entries"] = benchmark::Counter(
      static_cast<double>(entries), benchmark::Counter::kAvgThreads);
}

// Whether a lookup case stores too: kOneSetInFive makes every fifth call a
// store of the key it reaches (the 80/20 get/set mix).
enum class LookupMix { kHitsOnly, kOneSetInFive };

// Whether a store can hide a key for a moment: a store that replaces an
// entry by erasing it and inserting anew lets a lookup racing with it miss.
enum class StoreHides { kNever, kWhileReplacing };

// Cycles through keys 0 .. count - 1 from this thread's first key, calling
// get(i) (true for a hit) or, under kOneSetInFive, set(i) every fifth call.
// Every key was stored, so a miss is an error, unless stores hide keys: then
// the misses are counted ("misses", over all threads). One item per call.
template <LookupMix kMix, StoreHides kHides = StoreHides::kNever,
          typename Get, typename Set>
void cycleLookups(benchmark::State& state, std::size_t count, Get get,
                  Set set) {
  std::size_t next = firstKeyOfThread(state, count);
  std::uint64_t misses = 0;
  unsigned call = 0;
  for (auto _ : state) {
    if (kMix == LookupMix::kOneSetInFive && ++call == 5) {
      call = 0;
      set(next);
    } else {
      misses += get(next) ? 0 : 1;
    }
    if (++next == count) next = 0;
  }
  if (kHides == StoreHides::kWhileReplacing) {
    state.counters["misses"] = static_cast<double>(misses);
  } else if (misses != 0) {
    state.SkipWithError("a stored key missed");
  }
  state.SetItemsProcessed(state.iterations());
  countEntries(state, count);
}

// One `Filled` per markdown length, made by make(markdownBytes) on first use
// (from whichever thread of a run asks first) and kept for the program's
// life, so that every thread and every repetition reads the same store.
template <typename Filled, typename Make>
Filled& sharedFilled(std::size_t markdownBytes, Make make) {
  static std::mutex mutex;
  static std::map<std::size_t, std::unique_ptr<Filled>> stores;
  const std::lock_guard lock(mutex);
  std::unique_ptr<Filled>& filled = stores[markdownBytes];
  if (!filled) filled = make(markdownBytes);
  return *filled;
}

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_SHARED_LOOKUPS_H_
