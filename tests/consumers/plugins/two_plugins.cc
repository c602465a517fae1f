// Stores through one plugin and reads through the other; prints
// "one cache" when the second finds what the first stored, "two caches"
// when it misses. Exits 1 when it finds a different size.
#include <cstdio>

#include "plugin_api.h"

int main() {
  storeMeasurement(412.5, 96.0);
  double width = 0;
  double height = 0;
  if (!readMeasurement(&width, &height)) {
    std::puts("two caches");
    return 0;
  }
  if (width != 412.5 || height != 96.0) {
    std::fputs("the other plugin read a different size\n", stderr);
    return 1;
  }
  std::puts("one cache");
  return 0;
}
