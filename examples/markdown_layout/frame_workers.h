#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane::vesk::markdown_layout {

// Runs the items of one frame after another on a fixed set of threads: the
// calling thread (thread 0) and `threads - 1` workers it starts once.
//
// Hand-out: threads take runs of consecutive items, each claimed with one
// compare-and-swap on one shared word, a run a fraction of what is left (a
// half of the remainder's share per thread), so that a frame of cheap items
// costs a few claims rather than one per item and the last runs of a frame of
// costly ones are single items. The caller runs items too and returns as soon
// as every item is done: it never waits for a worker that has not started,
// so a worker that sleeps or lost its core costs the frame nothing. Between
// frames the workers spin briefly (a CPU pause, no system call), then sleep
// on the frame counter (std::atomic::wait), so that frames that follow each
// other closely pay no wake-up. With one thread, run() just calls the work
// for each item in order.
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
  // The most items one claim word describes; larger frames run as several
  // rounds of at most this many items, one after another.
  static constexpr std::size_t kMaxItemsPerRound =
      std::numeric_limits<std::uint32_t>::max();

  // `itemsPerRound` (1 to kMaxItemsPerRound) only lets tests make rounds
  // small.
  explicit FrameWorkers(std::size_t threads,
                        std::size_t itemsPerRound = kMaxItemsPerRound);
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
  void runRound(std::size_t firstItem, std::uint32_t items);
  void workLoop(std::size_t thread);
  // Claims and runs runs of items of the current round until none is left.
  void drain(std::size_t thread);
  // Runs items [begin, end) of the current round; false if one threw.
  bool runItems(std::size_t thread, std::uint32_t begin, std::uint32_t end);
  // Claims every item not yet claimed, so that no thread starts one; returns
  // how many that was.
  std::uint32_t claimTheRest();
  // Counts `count` items of the current round as done (run or skipped).
  void finish(std::uint32_t count, std::uint32_t roundItems);

  const std::size_t threadCount_;
  const std::size_t itemsPerRound_;

  // The current round's job: written by the caller before it publishes the
  // round on claim_ (release), read by a thread only after it claimed items
  // of that round (acquire), so it is stable for as long as those items are
  // not all done, and the caller does not rewrite it before they are.
  const void* work_ = nullptr;
  Call call_ = nullptr;
  std::size_t firstItem_ = 0;  // of the frame, the round's item 0

  // The round's claims: the item count in the high half, the next item not
  // yet claimed in the low half. The word alone decides every claim, so a
  // thread that read a previous round's word can never claim a stale item:
  // its compare-and-swap either fails or claims items of the current round.
  alignas(64) std::atomic<std::uint64_t> claim_{0};
  // Items of the round run or skipped; the caller waits for the count.
  alignas(64) std::atomic<std::uint32_t> done_{0};
  std::atomic<bool> failed_{false};  // a call of this round threw
  // Counts rounds; workers sleep on it between rounds.
  alignas(64) std::atomic<std::uint32_t> round_{0};
  std::atomic<bool> stop_{false};
  std::mutex errorMutex_;
  std::exception_ptr error_;  // the round's first exception
  std::vector<std::thread> workers_;
};

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_FRAME_WORKERS_H_
