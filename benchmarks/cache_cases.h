#ifndef VESK_BENCHMARKS_CACHE_CASES_H_
#define VESK_BENCHMARKS_CACHE_CASES_H_

#include <benchmark/benchmark.h>

// Benchmark cases over the byte-budgeted MeasurementCache, each taking the
// markdown length in bytes as its argument. Every key is value-initialised
// but for its markdown (see benchmarkKey), and a case that fills a cache fills
// it to its limit: 512 entries of 64 B or 4 KiB, but only 15 of 256 KiB, since
// 16 would exceed the 8 MiB byte budget.

namespace morvane::vesk {

// get() of stored keys, a different one each time, cycling through all of
// them. Under ->Threads(n) every thread reads the same cache, starting at a
// different key.
void getHit(benchmark::State& state);

// getOrMeasure() of stored keys as getHit reads them: what a caller pays for
// asking through it when the key is there.
void getOrMeasureHit(benchmark::State& state);

// setLimits() halving the entry limit of a full cache, evicting its older
// half (the refill between calls is not timed); items are evicted entries.
void setLimitsHalving(benchmark::State& state);

// Four get() hits to one set() update, of stored keys cycled through as in
// getHit: the mix of a layout pass that mostly finds its measurements and
// now and then remeasures one. Nothing is allocated or evicted.
void getSetMix(benchmark::State& state);

// The floor of getHit and getSetMix: the same keys looked up, and every fifth
// call updated, the same way, in a std::unordered_map (MeasurementCacheKeyHash)
// of its own per thread, made before the timed loop: nothing shared, no lock,
// no recency order. What a thread count gains here is what the machine gives.
void floorGetHit(benchmark::State& state);
void floorGetSetMix(benchmark::State& state);

// Registers getHit, getSetMix and their floors as the threaded cases
// MeasurementCache/get_hit_threads, MeasurementCache/get_set_mix_threads,
// Floor/get_hit_threads and Floor/get_set_mix_threads (onOneToEightThreads),
// so that every program comparing stores at several threads times the cache
// and the floor in its own run. Returns true, for a namespace-scope
// initialiser.
bool registerThreadedLookups();

// get() of keys of the stored length that are not stored; their hashes differ
// from every stored key's, so a miss compares no text.
void getMiss(benchmark::State& state);

// set() of stored keys with new values: no allocation and no eviction.
void setUpdate(benchmark::State& state);

// set() of a new key into a full cache of same-length keys, evicting the
// least recently used entry. At 64 B and 4 KiB the 512-entry limit evicts; at
// 256 KiB the cache holds 15 entries and the byte budget evicts instead.
void setInsertEvictingByCount(benchmark::State& state);

// Inserting set() calls from every thread of a ->Threads(n) run into one
// shared cache filled to its entry limit, each thread cycling through keys of
// its own, so that every call inserts and evicts: the case where work done
// under the mutex decides whether threads overlap.
void setInsertEvictingShared(benchmark::State& state);

// set() of a new key into a cache whose byte budget is full with fewer than
// 512 entries, evicting one entry by bytes. At 64 B and 4 KiB each key also
// carries string1 padding that brings its charge to 32 KiB (256 entries fill
// 8 MiB), so these copy 16 KiB per key copy whatever the markdown; at 256 KiB
// no padding is needed.
void setInsertEvictingByBytes(benchmark::State& state);

// removeMatchingMarkdown() over a full cache (512 entries, 15 at 256 KiB) with
// a markdown no entry holds but of the same length, differing only in its
// last bytes: the worst case, comparing every stored text in full, and
// removing nothing, so every iteration scans the same entries.
void removeMatchingMarkdownScan(benchmark::State& state);

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_CACHE_CASES_H_
