#ifndef VESK_PROGRAMS_CACHE_CHECK_CHECK_H_
#define VESK_PROGRAMS_CACHE_CHECK_CHECK_H_

namespace morvane::vesk {

// Does nothing when `condition` holds. Otherwise writes "FAIL <message>" to
// standard error and ends the process normally with exit status 1.
void check(bool condition, const char* message);

}  // namespace morvane::vesk

#endif  // VESK_PROGRAMS_CACHE_CHECK_CHECK_H_
