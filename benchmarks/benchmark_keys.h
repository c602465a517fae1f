#ifndef VESK_BENCHMARKS_BENCHMARK_KEYS_H_
#define VESK_BENCHMARKS_BENCHMARK_KEYS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// The limits of the byte-budgeted cache, restated so that code linked with
// the earlier form of the cache (which defines the same class) can use them.
// benchmark_support_test checks them against MeasurementCache's own.
inline constexpr std::size_t kBudgetedMaxEntries = 512;
inline constexpr std::uint64_t kBudgetedByteBudget = std::uint64_t{8} * 1024 * 1024;

// Tags mark keys apart; the tags of keys meant to miss start here, far above
// any tag a benchmark stores.
inline constexpr std::uint32_t kAbsentTagBase = 10'000'000;

// A value-initialised key whose markdown is `markdownBytes` long: 'x' up to
// an eight-digit decimal `tag` at its end, so that keys of one length differ
// only in their last bytes and comparing two of them reads every byte.
// string1 holds `paddingBytes` of 'p'. Needs markdownBytes >= 8.
MeasurementCacheKey benchmarkKey(std::size_t markdownBytes, std::uint32_t tag,
                                 std::size_t paddingBytes = 0);

// `count` such keys with tags firstTag, firstTag + 1, ...
std::vector<MeasurementCacheKey> benchmarkKeys(std::size_t count,
                                               std::size_t markdownBytes,
                                               std::uint32_t firstTag = 0,
                                               std::size_t paddingBytes = 0);

// How many entries the byte-budgeted cache holds once it is full of entries
// that are each charged `charge` bytes.
std::size_t entriesHeld(std::uint64_t charge);

// The string1 padding that brings a key with `markdownBytes` of markdown to a
// charge of 32 KiB, so that 256 entries (fewer than the 512 the count allows)
// fill the byte budget exactly; none for a markdown that is larger already.
std::size_t byteBoundPadding(std::size_t markdownBytes);

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_BENCHMARK_KEYS_H_
