#ifndef VESK_TESTS_COUNTING_KEY_HASH_H_
#define VESK_TESTS_COUNTING_KEY_HASH_H_

#include <cstdint>

namespace morvane::vesk::testing {

// A test binary that links counting_key_hash.cc and wraps the hash's symbol
// at link time (see cache_hash_count_test in tests/CMakeLists.txt) routes
// every call to MeasurementCacheKeyHash::operator() made from another object
// file, the cache's included, through a counter and on to the real hash.

// Full key hashes computed on any thread so far.
std::uint64_t keyHashesComputed();

}  // namespace morvane::vesk::testing

#endif  // VESK_TESTS_COUNTING_KEY_HASH_H_
