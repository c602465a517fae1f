#include "examples/markdown_layout/progress_line.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace morvane::vesk::markdown_layout {

ProgressLine::ProgressLine(std::string task, std::FILE* out,
                           std::chrono::milliseconds delay)
    : task_(std::move(task)),
      out_(out),
      delay_(delay),
      terminal_(::isatty(::fileno(out)) != 0),
      start_(Clock::now()) {}

ProgressLine::~ProgressLine() {
  if (shown_) std::fputs("\r\033[K", out_);
}

void ProgressLine::update(std::size_t done, std::size_t total) {
  if (!terminal_) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < delay_) return;
  if (shown_ && now - lastShown_ < std::chrono::milliseconds(100)) return;
  std::fprintf(out_, "\r\033[K%s: %zu/%zu", task_.c_str(), done, total);
  std::fflush(out_);
  shown_ = true;
  lastShown_ = now;
}

}  // namespace morvane::vesk::markdown_layout
