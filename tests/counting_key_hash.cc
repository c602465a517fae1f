#include "tests/counting_key_hash.h"

#include <atomic>

#include "cache/measurement_cache_key.h"
#include "cache/measurement_cache_key_hash.h"

// The linker's --wrap option sends calls of the hash's mangled name to
// __wrap_<name> and makes __real_<name> the original. The asm labels give
// both those names without spelling reserved identifiers in C++; the member
// function's `this` is passed as the first argument.
#define VESK_KEY_HASH_SYMBOL \
  "_ZNK7morvane4vesk23MeasurementCacheKeyHashclERKNS0_19MeasurementCacheKeyE"

namespace morvane::vesk::testing {

void keyHashObserved();

namespace {

std::atomic<std::uint64_t> hashes{0};
void (*hashObserver)(void*) = nullptr;
void* hashObserverContext = nullptr;

}  // namespace

std::uint64_t keyHashesComputed() { return hashes.load(); }

void observeKeyHashes(void (*observer)(void* context), void* context) {
  hashObserver = observer;
  hashObserverContext = context;
}

void keyHashObserved() {
  if (hashObserver != nullptr) hashObserver(hashObserverContext);
}

}  // namespace morvane::vesk::testing

std::uint64_t realKeyHash(const morvane::vesk::MeasurementCacheKeyHash* self,
                          const morvane::vesk::MeasurementCacheKey&
                              key) asm("__real_" VESK_KEY_HASH_SYMBOL);

std::uint64_t countedKeyHash(const morvane::vesk::MeasurementCacheKeyHash* self,
                             const morvane::vesk::MeasurementCacheKey&
                                 key) asm("__wrap_" VESK_KEY_HASH_SYMBOL);

std::uint64_t countedKeyHash(const morvane::vesk::MeasurementCacheKeyHash* self,
                             const morvane::vesk::MeasurementCacheKey& key) {
  ++morvane::vesk::testing::hashes;
  morvane::vesk::testing::keyHashObserved();
  return realKeyHash(self, key);
}
