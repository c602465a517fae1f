// The cache's lock beside the locks it was chosen over, around a critical
// section shaped like a cache hit's: the caller's key is hashed before the
// lock; under it the key is compared in full with a stored copy and that
// copy's node is spliced to the front of a shared recency list. The same
// cases, run with 1, 2, 4 and 8 threads on one shared section, show what
// each lock costs uncontended, contended, and with more threads than cores.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "benchmarks/benchmark_keys.h"
#include "benchmarks/compared_locks.h"
#include "benchmarks/thread_counts.h"
#include "cache/measurement_cache_key.h"
#include "cache/measurement_cache_key_hash.h"
#include "cache/spin_then_park_lock.h"

namespace morvane::vesk {
namespace {

constexpr std::size_t kKeys = 512;

// Shared by every thread of a run: the lock, the stored key copies and the
// recency list it guards, and the callers' own copies of the keys.
template <typename Lock>
struct HitSection {
  explicit HitSection(std::size_t markdownBytes)
      : callers(benchmarkKeys(kKeys, markdownBytes)), stored(callers) {
    for (std::size_t i = 0; i < kKeys; ++i) {
      positions.push_back(recency.insert(recency.end(), i));
    }
  }

  Lock lock;
  std::vector<MeasurementCacheKey> callers;
  std::vector<MeasurementCacheKey> stored;
  std::list<std::size_t> recency;
  std::vector<std::list<std::size_t>::iterator> positions;
};

template <typename Lock>
HitSection<Lock>& sharedSection(std::size_t markdownBytes) {
  static std::mutex mutex;
  static std::map<std::size_t, std::unique_ptr<HitSection<Lock>>> sections;
  const std::lock_guard hold(mutex);
  auto& section = sections[markdownBytes];
  if (!section) section = std::make_unique<HitSection<Lock>>(markdownBytes);
  return *section;
}

template <typename Lock>
void hitUnderLock(benchmark::State& state) {
  HitSection<Lock>& section =
      sharedSection<Lock>(static_cast<std::size_t>(state.range(0)));
  std::size_t next = kKeys * static_cast<std::size_t>(state.thread_index()) /
                     static_cast<std::size_t>(state.threads());
  std::uint64_t mismatches = 0;
  for (auto _ : state) {
    const MeasurementCacheKey& key = section.callers[next];
    const std::uint64_t hash = MeasurementCacheKeyHash{}(key);
    benchmark::DoNotOptimize(hash);
    {
      const std::lock_guard hold(section.lock);
      mismatches += section.stored[next] == key ? 0 : 1;
      section.recency.splice(section.recency.begin(), section.recency,
                             section.positions[next]);
    }
    if (++next == kKeys) next = 0;
  }
  if (mismatches != 0) state.SkipWithError("a stored copy differs");
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(hitUnderLock<std::mutex>)
    ->Name("Lock/std_mutex")
    ->Apply(onOneToEightThreads);
BENCHMARK(hitUnderLock<AdaptivePthreadMutex>)
    ->Name("Lock/pthread_adaptive_mutex")
    ->Apply(onOneToEightThreads);
BENCHMARK(hitUnderLock<SpinThenYieldLock>)
    ->Name("Lock/spin_then_yield")
    ->Apply(onOneToEightThreads);
BENCHMARK(hitUnderLock<SpinThenParkLock>)
    ->Name("Lock/spin_then_park")
    ->Apply(onOneToEightThreads);

}  // namespace
}  // namespace morvane::vesk
