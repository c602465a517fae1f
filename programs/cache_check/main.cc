// cache_check: checks the byte-budgeted measurement cache's behaviour, then
// benchmarks it. Reads no arguments and no input.
#include "cache/measurement_cache.h"
#include "programs/cache_check/cache_check_program.h"

int main() {
  using morvane::vesk::MeasurementCache;
  return morvane::vesk::runCacheCheck(MeasurementCache::shared());
}
