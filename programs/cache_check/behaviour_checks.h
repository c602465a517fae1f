#ifndef VESK_PROGRAMS_CACHE_CHECK_BEHAVIOUR_CHECKS_H_
#define VESK_PROGRAMS_CACHE_CHECK_BEHAVIOUR_CHECKS_H_

#include <array>
#include <cstddef>
#include <string>

#include "cache/cached_size.h"
#include "cache/measurement_cache_key.h"
#include "programs/cache_check/check.h"

namespace morvane::vesk {

inline constexpr const char* kPassLine =
    "PASS cache: 8 MiB byte eviction, oversized keys, updates/removal, "
    "512-entry LRU\n";

// Drives an empty cache through a fixed sequence of stores and lookups and
// check()s every observable outcome: eviction by the 8 MiB byte budget in
// least-recently-used order, refusal of keys that alone exceed the budget,
// in-place updates, removal by markdown, the exact budget boundary and the
// 512-entry limit. Stops the process at the first violated expectation.
// Leaves 512 small document entries behind.
//
// Uses only the cache's get(), set() and removeMatchingMarkdown(), so that
// any cache offering them can be checked.
template <typename Cache>
void runBehaviourChecks(Cache& cache) {
  constexpr std::size_t kMiB = std::size_t{1024} * 1024;
  CachedSize got;  // receives every hit; read only after one
  const auto hits = [&](const MeasurementCacheKey& key) {
    return cache.get(key, got);
  };

  // The base keys K0..K3: 1 MiB texts of 'a', 'b', 'c', 'd', each charged
  // 2 x (1 MiB + 280) = 2097712 bytes, stored with width 0..3.
  std::array<MeasurementCacheKey, 4> base{};
  for (std::size_t i = 0; i < base.size(); ++i) {
    base[i].markdown.assign(kMiB, static_cast<char>('a' + i));
  }
  const auto& [k0, k1, k2, k3] = base;
  const auto hitsWithWidth = [&](const MeasurementCacheKey& key, double width) {
    return hits(key) && got.width == width;
  };

  // Byte eviction in LRU order: a fourth base key does not fit beside three.
  cache.set(k0, {0, 20});
  cache.set(k1, {1, 20});
  cache.set(k2, {2, 20});
  check(hits(k0), "a hit must remain available before budget eviction");
  cache.set(k3, {3, 20});
  check(!hits(k1), "byte overflow must evict the least recently used key");
  check(hitsWithWidth(k0, 0) && hitsWithWidth(k2, 2) && hitsWithWidth(k3, 3),
        "byte eviction must retain the other measurements");

  // Oversized keys: 4 MiB in any one string costs 2 x (4 MiB + 280), above
  // the budget, so the key is refused without evicting anything.
  for (std::string MeasurementCacheKey::*field :
       {&MeasurementCacheKey::markdown, &MeasurementCacheKey::string1,
        &MeasurementCacheKey::string2, &MeasurementCacheKey::string3,
        &MeasurementCacheKey::string4, &MeasurementCacheKey::string5}) {
    MeasurementCacheKey oversized{};
    (oversized.*field).assign(4 * kMiB, 'z');
    cache.set(oversized, {99, 99});
    check(!hits(oversized),
          "8 MiB includes both copies of every string and key structs");
  }
  check(hits(k0) && hits(k2) && hits(k3),
        "oversized keys must preserve useful measurements");

  // Updates and removal: an update keeps the charge, a removal releases it,
  // so K1 fits again without evicting anything.
  cache.set(k0, {123, 456});
  cache.removeMatchingMarkdown(k2.markdown);
  cache.set(k1, {1, 20});
  check(hits(k0) && got.width == 123 && got.height == 456,
        "updates and removals must release or reuse capacity without "
        "spurious eviction");
  check(hits(k3) && hits(k1), "removed capacity must be reusable");
  check(!hits(k2), "removed measurements must stay absent");
  for (const MeasurementCacheKey& key : base) {
    cache.removeMatchingMarkdown(key.markdown);
  }

  // The exact budget: 2 x (4194024 + 280) = 8388608 fits; one byte more is
  // refused and must not evict the key already stored.
  MeasurementCacheKey boundary{};
  boundary.markdown.assign(4194024, 'b');
  cache.set(boundary, {8, 8});
  check(hits(boundary), "a key at the 8 MiB budget must fit");
  MeasurementCacheKey overBudget = boundary;
  overBudget.markdown.push_back('b');
  cache.set(overBudget, {9, 9});
  check(!hits(overBudget), "a key above the 8 MiB budget must bypass storage");
  check(hits(boundary), "a rejected boundary key must not evict the cached key");
  cache.removeMatchingMarkdown(boundary.markdown);

  // The entry limit: 512 small documents fit; the 513th evicts the least
  // recently used, which a hit on "0" has made "1".
  MeasurementCacheKey document{};
  for (int i = 0; i < 512; ++i) {
    document.markdown = std::to_string(i);
    cache.set(document, {static_cast<double>(i), 1});
  }
  document.markdown = "0";
  check(hits(document), "the entry limit must still allow 512 small documents");
  document.markdown = "new";
  cache.set(document, {1000, 1});
  document.markdown = "1";
  check(!hits(document),
        "entry overflow must evict the least recently used document");
  document.markdown = "0";
  check(hits(document), "reading a cache hit must refresh its LRU position");
}

}  // namespace morvane::vesk

#endif  // VESK_PROGRAMS_CACHE_CHECK_BEHAVIOUR_CHECKS_H_
