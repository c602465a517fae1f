#ifndef VESK_CACHE_CACHED_SIZE_H_
#define VESK_CACHE_CACHED_SIZE_H_

namespace morvane::vesk {

// One measurement: the size laid-out text occupies. Copied by value into and
// out of the cache.
struct CachedSize {
  double width = 0.0;
  double height = 0.0;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_CACHED_SIZE_H_
