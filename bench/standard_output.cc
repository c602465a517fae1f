#include "bench/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace morvane::vesk {

bool flushStandardOutput(const char* program) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  const int error = errno;
  std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
               std::strerror(error));
  return false;
}

}  // namespace morvane::vesk
