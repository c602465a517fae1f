#include "programs/cache_check/check.h"

#include <cstdio>
#include <cstdlib>

namespace morvane::vesk {

void check(bool condition, const char* message) {
  if (condition) return;
  std::fprintf(stderr, "FAIL %s\n", message);
  std::exit(1);
}

}  // namespace morvane::vesk
