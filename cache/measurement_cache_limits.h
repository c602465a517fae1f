#ifndef VESK_CACHE_MEASUREMENT_CACHE_LIMITS_H_
#define VESK_CACHE_MEASUREMENT_CACHE_LIMITS_H_

#include <cstddef>
#include <cstdint>

#include "entry_charge.h"

namespace morvane::vesk {

// The charge of a key whose six strings are empty: the smallest entryCharge
// there is, so no byte budget below it can hold any entry.
inline constexpr std::uint64_t kSmallestEntryCharge = 2 * kEntryOverheadBytes;

// The two bounds of one MeasurementCache: it never holds more than
// `maxEntries` entries, nor entries whose entryCharge adds up to more than
// `byteBudget`. A plain value; the defaults are the limits of a
// default-constructed cache and of MeasurementCache::shared().
//
// Usable limits have maxEntries >= 1 and byteBudget >= kSmallestEntryCharge;
// the cache refuses others with std::invalid_argument. Since every entry is
// charged at least kSmallestEntryCharge, the byte budget alone bounds the
// entries to byteBudget / kSmallestEntryCharge: a maxEntries above that (even
// SIZE_MAX) means "bounded by bytes only" and costs nothing extra.
struct MeasurementCacheLimits {
  std::size_t maxEntries = 512;
  std::uint64_t byteBudget = std::uint64_t{8} * 1024 * 1024;

  friend bool operator==(const MeasurementCacheLimits&,
                         const MeasurementCacheLimits&) = default;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_LIMITS_H_
