#include "examples/markdown_layout/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace morvane::vesk::markdown_layout {

ProgressLine::ProgressLine(std::string task)
    : task_(std::move(task)),
      terminal_(::isatty(STDERR_FILENO) != 0),
      start_(Clock::now()) {}

ProgressLine::~ProgressLine() {
  if (shown_) std::fputs("\r\033[K", stderr);
}

void ProgressLine::update(std::size_t done, std::size_t total) {
  if (!terminal_) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < std::chrono::seconds(1)) return;
  if (shown_ && now - lastShown_ < std::chrono::milliseconds(100)) return;
  std::fprintf(stderr, "\r\033[K%s: %zu/%zu", task_.c_str(), done, total);
  std::fflush(stderr);
  shown_ = true;
  lastShown_ = now;
}

}  // namespace morvane::vesk::markdown_layout
