#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_COMMAND_LINE_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_COMMAND_LINE_H_

#include <vesk/measurement_cache_limits.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "examples/markdown_layout/document_loading.h"

namespace morvane::vesk::markdown_layout {

// The program's --help text.
extern const char* const kUsage;

// A command line the program cannot run. what() says which argument and why;
// the program prints it with kUsage and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommandLine {
  std::vector<std::size_t> threads{1};  // each from 1 to 256
  std::size_t passes = 1;               // from 1 to 256
  bool verify = false;
  bool blocks = false;  // list the blocks instead of replaying
  bool help = false;
  DocumentLimits limits;
  // The cache's limits for the replay (--entries, --bytes), and the size
  // --capacity-curve marks. Default: the cache's defaults.
  MeasurementCacheLimits cacheLimits;
  bool capacityCurve = false;  // print the hit rate at every cache size
  bool tsv = false;            // ... as tab-separated lines, for scripts
  // ... and draw it there (--capacity-curve-svg); empty: draw nothing, so
  // that a run asked for text writes no file.
  std::string capacityCurveSvg;
  std::vector<std::string> paths;  // in the order given
};

// Parses argv[1..argc). Options and paths may be mixed; after "--" every
// argument is a path. Throws UsageError naming the argument at fault.
CommandLine parseCommandLine(int argc, const char* const* argv);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_COMMAND_LINE_H_
