#include "examples/markdown_layout/progress_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace morvane::vesk::markdown_layout {
namespace {

using std::chrono::milliseconds;

TEST(ProgressLine, WritesNothingToAFileOrPipe) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    ProgressLine progress("task", file, milliseconds(0));
    progress.update(1, 2);
    progress.update(2, 2);
  }
  EXPECT_EQ(std::ftell(file), 0L);
  std::fclose(file);
}

// The same updates on a pseudo-terminal are shown, and erased at the end, so
// that the test above cannot pass by never writing at all.
TEST(ProgressLine, ShowsAndErasesItselfOnATerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal";
  }
  std::array<char, 128> name{};
  ASSERT_EQ(::ptsname_r(master, name.data(), name.size()), 0);
  std::FILE* terminal = std::fopen(name.data(), "w");
  ASSERT_NE(terminal, nullptr);
  {
    ProgressLine progress("loading", terminal, milliseconds(0));
    progress.update(1, 2);
  }
  std::fclose(terminal);
  std::string shown;
  std::array<char, 256> buffer{};
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  for (ssize_t got = 0;
       (got = ::read(master, buffer.data(), buffer.size())) > 0;) {
    shown.append(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(master);
  EXPECT_EQ(shown, "\r\033[Kloading: 1/2\r\033[K");
}

TEST(ProgressLine, WaitsForTheDelayOnATerminalToo) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal";
  }
  std::array<char, 128> name{};
  ASSERT_EQ(::ptsname_r(master, name.data(), name.size()), 0);
  std::FILE* terminal = std::fopen(name.data(), "w");
  ASSERT_NE(terminal, nullptr);
  {
    ProgressLine progress("loading", terminal, milliseconds(60'000));
    progress.update(1, 2);
  }
  std::fclose(terminal);
  std::array<char, 64> buffer{};
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  EXPECT_LE(::read(master, buffer.data(), buffer.size()), 0);
  ::close(master);
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
