// Must not compile in a consumer: the earlier form of the cache defines the
// same class and is not part of vesk's interface.
#include "baseline/measurement_cache.h"

int main() { return 0; }
