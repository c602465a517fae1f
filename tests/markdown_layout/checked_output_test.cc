// Standard output watched for write errors, in a child process of its own
// (watching replaces the process's stdout): whenever a write failed, the
// last flush reports it, even when that flush itself writes fine.

#include "examples/markdown_layout/checked_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

namespace morvane::vesk::markdown_layout {
namespace {

// What the child's flushStandardOutput() did, as its exit status.
enum Outcome : int {
  kReturned = 0,
  kThrewNoSpace = 1,  // WriteError "write error: No space left on device"
  kThrewOther = 2,
};

struct Case {
  const char* name;
  bool failedBefore;  // a write before the last flush went to /dev/full
  bool failsAtEnd;    // the last flush writes to /dev/full too
  Outcome outcome;
};

// In the child: writes more than a buffer to a standard output that is
// /dev/full or /dev/null, then a line to /dev/full or /dev/null, then
// flushes.
[[noreturn]] void runChild(const Case& c) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(c.failedBefore ? full : null, STDOUT_FILENO);
  Outcome outcome = kThrewOther;
  try {
    watchStandardOutput();
    const std::string block(std::size_t{4} * BUFSIZ, 'x');
    std::fwrite(block.data(), 1, block.size(), stdout);
    std::cout << block;
    ::dup2(c.failsAtEnd ? full : null, STDOUT_FILENO);
    std::cout << "the last line\n";
    flushStandardOutput();
    outcome = kReturned;
  } catch (const WriteError& error) {
    if (std::string(error.what()) == "write error: No space left on device") {
      outcome = kThrewNoSpace;
    }
  } catch (const std::exception&) {
  }
  ::_exit(outcome);
}

TEST(CheckedOutput, TheLastFlushReportsEveryEarlierFailedWrite) {
  for (const Case& c : {
           Case{"every write succeeds", false, false, kReturned},
           Case{"only the last flush fails", false, true, kThrewNoSpace},
           Case{"a write before the last flush failed", true, false,
                kThrewNoSpace},
           Case{"every write fails", true, true, kThrewNoSpace},
       }) {
    SCOPED_TRACE(c.name);
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) runChild(c);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.outcome);
  }
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
