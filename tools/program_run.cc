#include "tools/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <vector>

extern char** environ;

namespace morvane::vesk {
namespace {

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

class Pipe {
 public:
  Pipe() {
    if (::pipe2(ends_.data(), O_CLOEXEC) != 0) throwErrno("pipe2");
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  [[nodiscard]] int read() const { return ends_[0]; }
  [[nodiscard]] int write() const { return ends_[1]; }
  void closeRead() { close(0); }
  void closeWrite() { close(1); }

 private:
  void close(int end) {
    if (ends_[end] >= 0) ::close(ends_[end]);
    ends_[end] = -1;
  }
  std::array<int, 2> ends_{-1, -1};
};

// Reads both pipes until both writers have closed them, so that neither
// child stream can fill up and stall the child.
void drain(Pipe& out, Pipe& err, ProgramRun& run) {
  std::array<pollfd, 2> fds{pollfd{out.read(), POLLIN, 0},
                            pollfd{err.read(), POLLIN, 0}};
  std::array<std::string*, 2> sinks{&run.standardOutput, &run.standardError};
  int open = 2;
  std::array<char, 65536> buffer;
  while (open > 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throwErrno("poll");
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
      if (got > 0) {
        sinks[i]->append(buffer.data(), static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

ProgramRun runProgram(const std::string& path,
                      const std::vector<std::string>& arguments) {
  Pipe out;
  Pipe err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write(), STDERR_FILENO);

  // posix_spawn takes non-const strings; these copies outlive the call.
  std::vector<std::string> strings{path};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(strings.size() + 1);
  for (std::string& string : strings) argv.push_back(string.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, nullptr,
                                    argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::system_error(spawned, std::generic_category(),
                            "cannot start " + path);
  }
  out.closeWrite();
  err.closeWrite();

  ProgramRun run;
  drain(out, err, run);
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throwErrno("wait4");
  }
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.peakResidentKiB = usage.ru_maxrss;
  return run;
}

}  // namespace morvane::vesk
