// Stores the measured size of a text in the process-wide cache, then reads it
// back. Exits 1 if the cache does not give the stored size back.
#include <cstdio>

#include <vesk/measurement_cache.h>

int main() {
  namespace vesk = morvane::vesk;
  vesk::MeasurementCacheKey key;  // every input of the measurement
  key.markdown = "# Hello, *world*";
  key.flavor = vesk::MarkdownFlavor::kGitHub;
  key.real1 = 640.0;  // the other fields: <vesk/measurement_cache_key.h>

  vesk::MeasurementCache& cache = vesk::MeasurementCache::shared();
  cache.set(key, vesk::CachedSize{.width = 412.5, .height = 96.0});

  vesk::CachedSize size;
  if (!cache.get(key, size) || size.width != 412.5 || size.height != 96.0) {
    std::fputs("the cache lost the measurement\n", stderr);
    return 1;
  }
  std::printf("%.1f x %.1f\n", size.width, size.height);
  return 0;
}
