#ifndef VESK_BENCHMARKS_PEER_CASES_H_
#define VESK_BENCHMARKS_PEER_CASES_H_

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/benchmark_keys.h"
#include "benchmarks/key_bytes.h"
#include "benchmarks/shared_lookups.h"
#include "cache/cached_size.h"
#include "cache/entry_charge.h"
#include "cache/measurement_cache_key.h"

// Lookup cases over the byte-keyed peers (LevelDB's and RocksDB's caches),
// with the keys MeasurementCache's get cases store, serialized once.

namespace morvane::vesk {

inline std::vector<std::string> serializeAll(
    const std::vector<MeasurementCacheKey>& keys) {
  std::vector<std::string> serialized(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    serializeKey(keys[i], serialized[i]);
  }
  return serialized;
}

// A peer holding the keys getHit stores for one markdown length, each
// charged entryCharge(key). Peer offers setBytes, getBytes and entryCount.
template <typename Peer>
struct FilledPeer {
  // make(charge, count) makes an empty peer for `count` entries of `charge`.
  template <typename MakePeer>
  FilledPeer(std::size_t markdownBytes, MakePeer make)
      : keys(benchmarkKeys(entriesHeld(entryCharge(benchmarkKey(
                               markdownBytes, 0))),
                           markdownBytes)),
        serialized(serializeAll(keys)),
        charge(entryCharge(keys.front())),
        peer(make(charge, keys.size())) {
    for (const std::string& bytes : serialized) {
      peer->setBytes(bytes, charge, {1.0, 1.0});
    }
  }

  std::vector<MeasurementCacheKey> keys;
  std::vector<std::string> serialized;
  std::uint64_t charge;  // the same for every key of one length
  std::unique_ptr<Peer> peer;
};

// getHit and getSetMix over a filled peer shared by every thread: getBytes of
// the serialized keys, and under kOneSetInFive setBytes of the key reached.
template <LookupMix kMix, StoreHides kHides = StoreHides::kNever,
          typename Peer>
void peerLookups(benchmark::State& state, FilledPeer<Peer>& filled) {
  CachedSize out;
  cycleLookups<kMix, kHides>(
      state, filled.serialized.size(),
      [&](std::size_t i) {
        const bool hit = filled.peer->getBytes(filled.serialized[i], out);
        benchmark::DoNotOptimize(out);
        return hit;
      },
      [&](std::size_t i) {
        filled.peer->setBytes(filled.serialized[i], filled.charge, {1.0, 1.0});
      });
}

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_PEER_CASES_H_
