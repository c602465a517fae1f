#ifndef VESK_CACHE_MEASUREMENT_CACHE_ENTRY_H_
#define VESK_CACHE_MEASUREMENT_CACHE_ENTRY_H_

#include "cached_size.h"
#include "measurement_cache_key.h"

namespace morvane::vesk {

// One stored measurement: the cache's own deep copy of the key and its value.
// Every form of MeasurementCache exposes this record as its nested CacheEntry.
struct MeasurementCacheEntry {
  MeasurementCacheKey key;
  CachedSize size;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_ENTRY_H_
