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

// Calls `observer(context)` on the hashing thread before each hash computed
// from now on, until observeKeyHashes(nullptr, nullptr) stops it. For
// single-threaded tests that check the state a hash is computed in.
void observeKeyHashes(void (*observer)(void* context), void* context);

}  // namespace morvane::vesk::testing

#endif  // VESK_TESTS_COUNTING_KEY_HASH_H_
