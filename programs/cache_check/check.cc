#include "programs/cache_check/check.h"

#include <cstdio>
#include <cstdlib>

namespace morvane::vesk {

void check(bool condition, const char* message) {
  if (condition) return;
  std::fprintf(stderr, "FAIL %s\n", message);
  // cache_check runs on one thread; ending the process is check()'s job.
  std::exit(1);  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace morvane::vesk
