#include "measurement_cache_key_hash.h"

#include <functional>
#include <tuple>
#include <type_traits>

namespace morvane::vesk {

std::uint64_t MeasurementCacheKeyHash::operator()(
    const MeasurementCacheKey& key) const {
  return std::apply(
      [](const auto&... field) {
        std::uint64_t seed = 0;
        ((seed = hashCombine(
              seed, std::hash<std::remove_cvref_t<decltype(field)>>{}(field))),
         ...);
        return seed;
      },
      keyFields(key));
}

}  // namespace morvane::vesk
