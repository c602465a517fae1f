#include "examples/markdown_layout/checked_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <system_error>

namespace morvane::vesk::markdown_layout {
namespace {

// The errno of the first write to descriptor 1 that failed, or 0.
int firstWriteError = 0;

// fopencookie's write function: writes all of `data` to descriptor 1, or
// records why it could not and reports the failure to the C library.
ssize_t writeStandardOutput(void* /*cookie*/, const char* data,
                            std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::write(STDOUT_FILENO, data + done, size - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      if (firstWriteError == 0) firstWriteError = errno;
      return -1;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return static_cast<ssize_t>(size);
}

// std::cout's buffer once stdout is replaced: everything goes to `stdout`,
// so that what std::cout and printf write stays in order.
class StandardOutputBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
    return std::fputc(traits_type::to_char_type(c), stdout) == EOF
               ? traits_type::eof()
               : c;
  }
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    return static_cast<std::streamsize>(
        std::fwrite(data, 1, static_cast<std::size_t>(size), stdout));
  }
  int sync() override { return std::fflush(stdout) == 0 ? 0 : -1; }
};

std::string reasonText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

}  // namespace

WriteError::WriteError(const std::string& reason)
    : std::runtime_error("write error: " + reason) {}

void watchStandardOutput() {
  // Never destroyed: std::cout flushes through it at exit.
  static auto* const buffer = new StandardOutputBuffer;
  const cookie_io_functions_t functions{nullptr, writeStandardOutput, nullptr,
                                        nullptr};
  std::FILE* watched = ::fopencookie(nullptr, "w", functions);
  if (watched == nullptr) throw WriteError(reasonText(errno));
  // Buffered as the C library buffers standard output: by line on a
  // terminal, else in blocks.
  std::setvbuf(watched, nullptr, ::isatty(STDOUT_FILENO) != 0 ? _IOLBF : _IOFBF,
               BUFSIZ);
  // glibc's stdout is a variable that a program may set; every later write
  // through stdout, printf and std::cout uses the watched stream.
  std::fflush(stdout);
  stdout = watched;
  std::cout.rdbuf(buffer);
}

void flushStandardOutput() {
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout) && std::cout.good()) return;
  throw WriteError(firstWriteError != 0
                       ? reasonText(firstWriteError)
                       : std::string("standard output reported a failure"));
}

}  // namespace morvane::vesk::markdown_layout
