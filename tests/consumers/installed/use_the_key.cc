// Hashes and charges keys with nothing linked but vesk::cache, which must
// bring the key's library (the hash) with it, static or shared. Exits 1 if
// equal keys hash differently or a charge is not what entryCharge promises.
#include <vesk/entry_charge.h>
#include <vesk/measurement_cache_key.h>
#include <vesk/measurement_cache_key_hash.h>

#include <cstdio>

int main() {
  namespace vesk = morvane::vesk;
  vesk::MeasurementCacheKey key;
  key.markdown = "# Hello";
  key.string1 = "DejaVuSans.ttf";
  const vesk::MeasurementCacheKey copy = key;
  const vesk::MeasurementCacheKeyHash hash;
  if (hash(key) != hash(copy)) {
    std::fputs("equal keys hash differently\n", stderr);
    return 1;
  }
  if (vesk::entryCharge(key) != 2 * (7 + 14 + vesk::kEntryOverheadBytes)) {
    std::fputs("the charge is not two copies of the key\n", stderr);
    return 1;
  }
  std::puts("hashed and charged");
  return 0;
}
