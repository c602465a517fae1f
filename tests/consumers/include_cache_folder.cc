// Must not compile in a consumer: vesk's headers are reached only as
// <vesk/...>, never through a generic top-level folder.
#include "cache/measurement_cache.h"

int main() { return 0; }
