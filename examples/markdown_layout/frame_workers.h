#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
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
// Each run() is handed its frame's work: what the work refers to is the
// caller's, read-only for the frame unless the work itself arranges
// otherwise. Everything the caller did before run() happens before every call
// of the work, and every call happens before run() returns.
//
// Thread safety: run() must be called from the thread that made the object,
// one frame at a time. The work is called concurrently from different threads
// with different thread numbers (below the constructor's `threads`), never
// twice at once with the same one.
class FrameWorkers {
 public:
  explicit FrameWorkers(std::size_t threads);
  FrameWorkers(const FrameWorkers&) = delete;
  FrameWorkers& operator=(const FrameWorkers&) = delete;
  ~FrameWorkers();  // stops and joins the workers

  // Calls work(thread, item) once for every item in [0, items) and returns
  // when all are done; `work` is not copied and is not used after run()
  // returns. If a call throws, the items not yet started are skipped and the
  // first exception is rethrown here.
  template <typename Work>
  void run(std::size_t items, const Work& work) {
    runErased(items, &work,
              [](const void* object, std::size_t thread, std::size_t item) {
                (*static_cast<const Work*>(object))(thread, item);
              });
  }

 private:
  using Call = void (*)(const void* work, std::size_t thread, std::size_t item);

  void runErased(std::size_t items, const void* work, Call call);
  void workLoop(std::size_t thread);
  void drain(std::size_t thread);

  // The current frame's job, written by run() before the release on
  // generation_ and read by a worker only after acquiring that generation;
  // unchanged until every worker has reported on finishedWorkers_.
  std::size_t items_ = 0;
  const void* work_ = nullptr;
  Call call_ = nullptr;

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
