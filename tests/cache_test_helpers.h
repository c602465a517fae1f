#ifndef VESK_TESTS_CACHE_TEST_HELPERS_H_
#define VESK_TESTS_CACHE_TEST_HELPERS_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// A value-initialised key whose markdown is `markdown`.
inline MeasurementCacheKey keyFor(std::string markdown) {
  MeasurementCacheKey key{};
  key.markdown = std::move(markdown);
  return key;
}

// A value-initialised key whose markdown is `length` copies of `letter`.
inline MeasurementCacheKey keyOfLength(std::size_t length, char letter) {
  return keyFor(std::string(length, letter));
}

// The stored markdown texts of either form of the cache, most recently used
// first.
template <typename Cache>
std::vector<std::string> markdownsInOrder(const Cache& cache) {
  std::vector<std::string> order;
  cache.forEachEntry([&](const typename Cache::CacheEntry& entry) {
    order.push_back(entry.key.markdown);
  });
  return order;
}

}  // namespace morvane::vesk

#endif  // VESK_TESTS_CACHE_TEST_HELPERS_H_
