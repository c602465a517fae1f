#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_PROGRESS_LINE_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_PROGRESS_LINE_H_

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace morvane::vesk::markdown_layout {

// A progress line on `out` (standard error by default), rewritten in place,
// shown only when `out` is a terminal and only once the task has lasted
// `delay`; at most ten updates a second. The destructor erases it. Not
// thread-safe: one thread updates it.
class ProgressLine {
 public:
  explicit ProgressLine(
      std::string task, std::FILE* out = stderr,
      std::chrono::milliseconds delay = std::chrono::seconds(1));
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine();

  void update(std::size_t done, std::size_t total);

 private:
  using Clock = std::chrono::steady_clock;
  std::string task_;
  std::FILE* out_;
  std::chrono::milliseconds delay_;
  bool terminal_;
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point lastShown_;
};

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_PROGRESS_LINE_H_
