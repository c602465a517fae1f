#include "bench/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace morvane::vesk {

bool flushStandardOutput(const char* program) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  const int error = errno;
  std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
               std::generic_category().message(error).c_str());
  return false;
}

}  // namespace morvane::vesk
