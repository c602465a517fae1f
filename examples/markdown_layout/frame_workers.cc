#include "examples/markdown_layout/frame_workers.h"

#include <chrono>
#include <utility>

namespace morvane::vesk::markdown_layout {
namespace {

// How long a thread spins (yielding) before it sleeps on a value.
constexpr auto kSpinTime = std::chrono::microseconds(50);

// Waits until `value` no longer holds `old`, and returns what it holds.
template <typename T>
T awaitChange(const std::atomic<T>& value, T old) {
  const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
  for (;;) {
    const T now = value.load(std::memory_order_acquire);
    if (now != old) return now;
    if (std::chrono::steady_clock::now() >= spinUntil) break;
    std::this_thread::yield();
  }
  for (;;) {
    value.wait(old, std::memory_order_acquire);
    const T now = value.load(std::memory_order_acquire);
    if (now != old) return now;
  }
}

}  // namespace

FrameWorkers::FrameWorkers(std::size_t threads) {
  for (std::size_t t = 1; t < threads; ++t) {
    workers_.emplace_back([this, t] { workLoop(t); });
  }
}

FrameWorkers::~FrameWorkers() {
  stop_.store(true, std::memory_order_relaxed);
  generation_.fetch_add(1, std::memory_order_release);
  generation_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void FrameWorkers::runErased(std::size_t items, const void* work, Call call) {
  items_ = items;
  work_ = work;
  call_ = call;
  next_.store(0, std::memory_order_relaxed);
  finishedWorkers_.store(0, std::memory_order_relaxed);
  failed_.store(false, std::memory_order_relaxed);
  generation_.fetch_add(1, std::memory_order_release);
  generation_.notify_all();
  drain(0);
  std::size_t finished = 0;
  while (finished < workers_.size()) {
    finished = awaitChange(finishedWorkers_, finished);
  }
  if (error_) {
    std::exception_ptr error = std::exchange(error_, nullptr);
    std::rethrow_exception(error);
  }
}

void FrameWorkers::workLoop(std::size_t thread) {
  std::uint64_t seen = 0;
  for (;;) {
    seen = awaitChange(generation_, seen);
    if (stop_.load(std::memory_order_relaxed)) return;
    drain(thread);
    finishedWorkers_.fetch_add(1, std::memory_order_release);
    finishedWorkers_.notify_one();
  }
}

void FrameWorkers::drain(std::size_t thread) {
  for (;;) {
    const std::size_t item = next_.fetch_add(1, std::memory_order_relaxed);
    if (item >= items_ || failed_.load(std::memory_order_relaxed)) return;
    try {
      call_(work_, thread, item);
    } catch (...) {
      const std::lock_guard lock(errorMutex_);
      if (!error_) error_ = std::current_exception();
      failed_.store(true, std::memory_order_relaxed);
    }
  }
}

}  // namespace morvane::vesk::markdown_layout
