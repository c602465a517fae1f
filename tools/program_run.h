#ifndef VESK_TOOLS_PROGRAM_RUN_H_
#define VESK_TOOLS_PROGRAM_RUN_H_

#include <string>
#include <vector>

namespace morvane::vesk {

// What a finished child process left behind.
struct ProgramRun {
  int exitStatus = -1;  // the status it exited with; -1 if a signal ended it
  int signal = 0;       // the signal that ended it, or 0
  std::string standardOutput;
  std::string standardError;
  long peakResidentKiB = 0;  // its peak resident set size, as the kernel saw it
};

// Runs the program at `path` with `arguments` (none by default) and an empty
// standard input, waits for it and collects its output and resource use.
// Throws std::system_error when the program cannot be started.
ProgramRun runProgram(const std::string& path,
                      const std::vector<std::string>& arguments = {});

}  // namespace morvane::vesk

#endif  // VESK_TOOLS_PROGRAM_RUN_H_
