// MeasurementCache beside RocksDB's sharded LRU cache and its HyperClockCache
// on the same keys, hits and 80/20 get/set mix at 1 to 8 threads, with the
// unshared floor, in one program so that all run in the same heap state and
// the same stretch of a noisy machine.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "benchmarks/cache_cases.h"
#include "benchmarks/peer_cases.h"
#include "benchmarks/rocksdb_measurement_cache.h"
#include "benchmarks/shared_lookups.h"
#include "benchmarks/thread_counts.h"

namespace morvane::vesk {
namespace {

using Kind = RocksDbMeasurementCache::Kind;
using FilledRocksDb = FilledPeer<RocksDbMeasurementCache>;

// The LRU cache gets the capacity LevelDB gets, large enough that no shard
// evicts (64 shards). HyperClockCache sizes its table from its capacity, so
// it gets four times what the keys are charged: room enough that it evicts
// none of them, and a table of a few thousand slots.
constexpr std::size_t kLruCapacity = std::size_t{1} << 30;
constexpr std::size_t kHyperClockRoom = 4;

template <Kind kKind>
FilledRocksDb& sharedFilledRocksDb(std::size_t markdownBytes) {
  return sharedFilled<FilledRocksDb>(markdownBytes, [](std::size_t bytes) {
    return std::make_unique<FilledRocksDb>(
        bytes, [](std::uint64_t charge, std::size_t count) {
          const auto entry = static_cast<std::size_t>(charge);
          const std::size_t capacity = kKind == Kind::kLru
                                           ? kLruCapacity
                                           : kHyperClockRoom * count * entry;
          return std::make_unique<RocksDbMeasurementCache>(kKind, capacity,
                                                           entry);
        });
  });
}

// HyperClockCache replaces an entry by erasing and inserting it (see
// RocksDbMeasurementCache), so in the mix a lookup racing with the update of
// its key may miss; the misses are counted instead of failing the case.
template <Kind kKind, LookupMix kMix>
void rocksDbLookups(benchmark::State& state) {
  constexpr StoreHides kHides = kKind == Kind::kHyperClock
                                    ? StoreHides::kWhileReplacing
                                    : StoreHides::kNever;
  peerLookups<kMix, kHides>(state, sharedFilledRocksDb<kKind>(
                                       static_cast<std::size_t>(state.range(0))));
}

const bool kThreadedLookups = registerThreadedLookups();
BENCHMARK(rocksDbLookups<Kind::kLru, LookupMix::kHitsOnly>)
    ->Name("RocksDB.LRU/get_hit_threads")
    ->Apply(onOneToEightThreads);
BENCHMARK(rocksDbLookups<Kind::kLru, LookupMix::kOneSetInFive>)
    ->Name("RocksDB.LRU/get_set_mix_threads")
    ->Apply(onOneToEightThreads);
BENCHMARK(rocksDbLookups<Kind::kHyperClock, LookupMix::kHitsOnly>)
    ->Name("RocksDB.HyperClock/get_hit_threads")
    ->Apply(onOneToEightThreads);
BENCHMARK(rocksDbLookups<Kind::kHyperClock, LookupMix::kOneSetInFive>)
    ->Name("RocksDB.HyperClock/get_set_mix_threads")
    ->Apply(onOneToEightThreads);

}  // namespace
}  // namespace morvane::vesk
