#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_CHECKED_OUTPUT_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_CHECKED_OUTPUT_H_

#include <stdexcept>
#include <string>

namespace morvane::vesk::markdown_layout {

// Standard output carries the program's results, so a write that fails there
// (a full disk, a closed descriptor, a reader that has gone away: the
// program ignores SIGPIPE) must end the program with a message and a
// failure status, never in success.
//
// The C library drops what it could not write and forgets why, so
// watchStandardOutput() makes `stdout`, and std::cout through it, write
// through a function that keeps the reason of the first failed write.
// flushStandardOutput() then flushes both and throws WriteError with that
// reason. Call watchStandardOutput() once, in main before anything is
// written; after it, write standard output only through stdout or std::cout,
// from one thread at a time.

// what() is "write error: " and the system's reason, such as "No space left
// on device".
class WriteError : public std::runtime_error {
 public:
  explicit WriteError(const std::string& reason);
};

void watchStandardOutput();

// Flushes std::cout and stdout; throws WriteError if that, or any write to
// standard output before it, failed.
void flushStandardOutput();

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_CHECKED_OUTPUT_H_
