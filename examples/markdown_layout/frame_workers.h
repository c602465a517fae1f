#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane::vesk::markdown_layout {

// Runs the items of one frame after another on a fixed set of threads: the
// calling thread (thread 0) and `threads - 1` workers it starts once. Items
// are handed out one at a time, so a long item does not hold up the others.
// Between frames the workers spin briefly, then sleep, so that frames that
// follow each other closely pay no wake-up.
//
// Thread safety: run() must be called from the thread that made the object,
// one frame at a time. `work` is called concurrently from different threads
// with different thread numbers, never twice at once with the same one.
class FrameWorkers {
 public:
  using Work = std::function<void(std::size_t thread, std::size_t item)>;

  FrameWorkers(std::size_t threads, Work work);
  FrameWorkers(const FrameWorkers&) = delete;
  FrameWorkers& operator=(const FrameWorkers&) = delete;
  ~FrameWorkers();  // stops and joins the workers

  // Calls work(thread, item) once for every item in [0, items) and returns
  // when all are done. If a call throws, the items not yet started are
  // skipped and the first exception is rethrown here.
  void run(std::size_t items);

 private:
  void workLoop(std::size_t thread);
  void drain(std::size_t thread);

  Work work_;
  std::size_t items_ = 0;  // published by the release on generation_
  std::atomic<std::uint64_t> generation_{0};
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> finishedWorkers_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> failed_{false};
  std::mutex errorMutex_;
  std::exception_ptr error_;
  std::vector<std::thread> workers_;
};

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_
