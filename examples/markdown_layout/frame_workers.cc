#include "examples/markdown_layout/frame_workers.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

#include <vesk/spin_then_park_lock.h>

namespace morvane::vesk::markdown_layout {
namespace {

// How long a thread spins before it sleeps on a value: longer than the
// caller's bookkeeping between two frames, far shorter than a time slice.
constexpr auto kSpinTime = std::chrono::microseconds(50);

// Waits until `value` no longer holds `old`, and returns what it holds
// (loaded with acquire, so what its writer did before is visible).
std::uint32_t awaitChange(const std::atomic<std::uint32_t>& value,
                          std::uint32_t old) {
  const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
  for (;;) {
    const std::uint32_t now = value.load(std::memory_order_acquire);
    if (now != old) return now;
    if (std::chrono::steady_clock::now() >= spinUntil) break;
    SpinThenParkLock::relaxCpu();
  }
  for (;;) {
    value.wait(old, std::memory_order_acquire);
    const std::uint32_t now = value.load(std::memory_order_acquire);
    if (now != old) return now;
  }
}

constexpr std::uint64_t claimWord(std::uint32_t items, std::uint32_t next) {
  return (std::uint64_t{items} << 32) | next;
}
constexpr std::uint32_t itemsOf(std::uint64_t word) {
  return static_cast<std::uint32_t>(word >> 32);
}
constexpr std::uint32_t nextOf(std::uint64_t word) {
  return static_cast<std::uint32_t>(word);
}

}  // namespace

FrameWorkers::FrameWorkers(std::size_t threads, std::size_t itemsPerRound)
    : threadCount_(std::max<std::size_t>(threads, 1)),
      itemsPerRound_(itemsPerRound) {
  if (itemsPerRound == 0 || itemsPerRound > kMaxItemsPerRound) {
    throw std::invalid_argument("FrameWorkers: items per round out of range");
  }
  for (std::size_t t = 1; t < threads; ++t) {
    workers_.emplace_back([this, t] { workLoop(t); });
  }
}

FrameWorkers::~FrameWorkers() {
  // The release on round_ makes stop_ visible to a worker that sees the new
  // round.
  stop_.store(true, std::memory_order_relaxed);
  round_.fetch_add(1, std::memory_order_release);
  round_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void FrameWorkers::runErased(std::size_t items, const void* work, Call call) {
  if (workers_.empty()) {
    // Nobody to hand items to: no claims, no counts, no atomic operation.
    for (std::size_t item = 0; item < items; ++item) call(work, 0, item);
    return;
  }
  work_ = work;
  call_ = call;
  for (std::size_t first = 0; first < items; first += itemsPerRound_) {
    runRound(first, static_cast<std::uint32_t>(
                        std::min(itemsPerRound_, items - first)));
    if (error_) {
      std::exception_ptr error = std::exchange(error_, nullptr);
      std::rethrow_exception(error);
    }
  }
}

void FrameWorkers::runRound(std::size_t firstItem, std::uint32_t items) {
  // Every item of the previous round is done, so no thread writes done_ or
  // failed_ until it claims an item of this round; the release on claim_
  // orders these resets and the job before any such claim.
  firstItem_ = firstItem;
  done_.store(0, std::memory_order_relaxed);
  failed_.store(false, std::memory_order_relaxed);
  claim_.store(claimWord(items, 0), std::memory_order_release);
  // Only a wake-up signal: what a worker needs it acquires from claim_.
  round_.fetch_add(1, std::memory_order_release);
  round_.notify_all();
  drain(0);
  std::uint32_t done = done_.load(std::memory_order_acquire);
  while (done != items) done = awaitChange(done_, done);
}

void FrameWorkers::workLoop(std::size_t thread) {
  std::uint32_t seen = 0;
  for (;;) {
    seen = awaitChange(round_, seen);
    if (stop_.load(std::memory_order_relaxed)) return;
    drain(thread);
  }
}

void FrameWorkers::drain(std::size_t thread) {
  // Acquire on every read of claim_ that can lead to a claim: a successful
  // claim reads a value in the release sequence of the caller's store that
  // opened the round (later claims are read-modify-writes, which extend it),
  // so the round's job and resets are visible before its items run. A claim
  // publishes nothing, so it needs no release.
  std::uint64_t word = claim_.load(std::memory_order_acquire);
  for (;;) {
    const std::uint32_t items = itemsOf(word);
    const std::uint32_t next = nextOf(word);
    if (next >= items) return;
    const std::uint32_t left = items - next;
    const std::size_t share = 2 * threadCount_;
    const auto take = static_cast<std::uint32_t>((left + share - 1) / share);
    if (!claim_.compare_exchange_weak(word, claimWord(items, next + take),
                                      std::memory_order_acquire,
                                      std::memory_order_acquire)) {
      continue;
    }
    std::uint32_t finished = take;
    if (!runItems(thread, next, next + take)) finished += claimTheRest();
    finish(finished, items);
    word = claim_.load(std::memory_order_acquire);
  }
}

bool FrameWorkers::runItems(std::size_t thread, std::uint32_t begin,
                            std::uint32_t end) {
  for (std::uint32_t item = begin; item < end; ++item) {
    // Only a hint to skip what is left: the exception itself reaches the
    // caller under errorMutex_ and through done_.
    if (failed_.load(std::memory_order_relaxed)) return true;
    try {
      call_(work_, thread, firstItem_ + item);
    } catch (...) {
      const std::lock_guard lock(errorMutex_);
      if (!error_) error_ = std::current_exception();
      failed_.store(true, std::memory_order_relaxed);
      return false;
    }
  }
  return true;
}

std::uint32_t FrameWorkers::claimTheRest() {
  // The item count never changes within a round, and the round cannot end
  // while this thread's claimed items are not counted done. Relaxed: the
  // claim carries no data; the skipped items are counted through done_.
  const std::uint64_t word = claim_.load(std::memory_order_relaxed);
  const std::uint64_t old = claim_.exchange(
      claimWord(itemsOf(word), itemsOf(word)), std::memory_order_relaxed);
  return itemsOf(old) - nextOf(old);
}

void FrameWorkers::finish(std::uint32_t count, std::uint32_t roundItems) {
  // Release: the calls this thread made happen before the caller's acquire
  // of the total (every add is a read-modify-write, so the caller's load of
  // the last one synchronises with all of them).
  if (done_.fetch_add(count, std::memory_order_release) + count == roundItems) {
    done_.notify_one();
  }
}

}  // namespace morvane::vesk::markdown_layout
