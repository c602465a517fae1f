#ifndef VESK_CACHE_SPIN_THEN_PARK_LOCK_H_
#define VESK_CACHE_SPIN_THEN_PARK_LOCK_H_

#include <atomic>
#include <cstdint>
#include <thread>

#include "thread_safety_annotations.h"

namespace morvane::vesk {

// What lock(events) tells of a contended acquisition, on the thread that
// waits: spinning() at the start of each spin before parking, parking() each
// time the thread is about to sleep in the kernel, having marked the lock as
// having waiters. These do nothing; a test passes a type of its own with the
// same two noexcept members, to count the events or to hold a waiter at one.
struct NoLockEvents {
  void spinning() noexcept {}
  void parking() noexcept {}
};

// A non-recursive mutual-exclusion lock for short critical sections. A thread
// that finds it held first spins for a bounded time (a few microseconds),
// since the holder usually leaves within that; then it parks in the
// kernel (std::atomic::wait, a futex on Linux) until a release wakes it, so
// that with more threads than cores a waiter does not burn the time slice the
// holder needs.
//
// Satisfies Lockable, so std::lock_guard and std::scoped_lock work with it;
// SpinThenParkLockGuard is the guard clang's thread-safety analysis
// understands. Locking cannot fail: nothing here throws or allocates. Unfair:
// a spinning newcomer may overtake a parked waiter. Locking it twice from one
// thread deadlocks; unlocking it from a thread that does not hold it is
// undefined. lock() and lock(events) run the same code; lock() passes
// NoLockEvents, whose calls compile to nothing, so it costs what it would
// without them (the same instructions).
class VESK_CAPABILITY("mutex") SpinThenParkLock {
 public:
  SpinThenParkLock() = default;
  SpinThenParkLock(const SpinThenParkLock&) = delete;
  SpinThenParkLock& operator=(const SpinThenParkLock&) = delete;
  ~SpinThenParkLock() = default;

  void lock() noexcept VESK_ACQUIRE() {
    if (!try_lock()) lockContended();
  }

  // lock(), telling `events` of every spin and park (see NoLockEvents).
  template <typename Events>
  void lock(Events& events) noexcept VESK_ACQUIRE() {
    if (!try_lock()) lockContended(events);
  }

  // Named as the Lockable requirement names it.
  bool try_lock() noexcept VESK_TRY_ACQUIRE(true) {
    std::uint32_t expected = kUnlocked;
    // Sequentially consistent, not only acquire, so that isHeldInOrder()
    // can serve a handshake (see there); on x86-64 the same instruction.
    return state_.compare_exchange_strong(expected, kLocked,
                                          std::memory_order_seq_cst,
                                          std::memory_order_relaxed);
  }

  void unlock() noexcept VESK_RELEASE() {
    // Only a lock some thread may be parked on costs a wake-up call.
    if (state_.exchange(kUnlocked, std::memory_order_release) ==
        kLockedWithWaiters) {
      state_.notify_one();
    }
  }

  // Whether some thread holds the lock at this instant. A snapshot that may
  // be stale when it returns; for assertions and tests, never for deciding
  // whether to lock.
  [[nodiscard]] bool isLocked() const noexcept {
    return state_.load(std::memory_order_relaxed) != kUnlocked;
  }

  // Whether some thread holds the lock, read in the single total order of
  // sequentially consistent operations, in which every acquisition also
  // takes its place. So a thread that stores a flag of its own (sequentially
  // consistent), then finds the lock free, knows that the next holder, once
  // it has the lock, will see the flag if it loads it sequentially
  // consistently: one of the two sees the other. This is how
  // PerThreadReadLock's readers and writers find each other.
  [[nodiscard]] bool isHeldInOrder() const noexcept {
    return state_.load(std::memory_order_seq_cst) != kUnlocked;
  }

  // What a thread does while it spins: lets a hyperthread sibling run.
  static void relaxCpu() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#else
    std::this_thread::yield();
#endif
  }

  // Whether the lock is held and marked so that its release wakes a parked
  // waiter, as every waiter marks it before it parks. A snapshot, like
  // isLocked().
  [[nodiscard]] bool isMarkedForWaiters() const noexcept {
    return state_.load(std::memory_order_relaxed) == kLockedWithWaiters;
  }

  // Spins before parking: about 3 us on the AMD EPYC this was measured on
  // (25 ns a pause), close to what parking and being woken costs a contended
  // waiter (some 5 us with std::mutex). Spinning about as long as a park
  // would cost keeps a waiter within about twice the best choice made in
  // hindsight, whatever the holder does; it is also longer than the cache's
  // usual critical sections and far shorter than a time slice.
  static constexpr int kSpinLimit = 128;

 private:
  // kLockedWithWaiters is set by every thread that is about to park, and kept
  // by the thread that takes the lock after parking (another may still be
  // parked), so that a release of a lock anyone may be parked on wakes one.
  static constexpr std::uint32_t kUnlocked = 0;
  static constexpr std::uint32_t kLocked = 1;
  static constexpr std::uint32_t kLockedWithWaiters = 2;

  void lockContended() noexcept {
    NoLockEvents none;
    lockContended(none);
  }

  // Always inlined, so that lockContended() is the one function it was
  // before the events existed and the compiler's inlining of the cache's
  // code around it does not change (measured: the same instruction counts).
  template <typename Events>
  [[gnu::always_inline]] void lockContended(Events& events) noexcept
      VESK_NO_THREAD_SAFETY_ANALYSIS {
    // Test before test-and-set: reading the state keeps its cache line
    // shared while the holder works, where a failing exchange would take it.
    for (int spin = 0; spin < kSpinLimit; ++spin) {
      events.spinning();
      relaxCpu();
      if (state_.load(std::memory_order_relaxed) == kUnlocked && try_lock()) {
        return;
      }
    }
    while (state_.exchange(kLockedWithWaiters, std::memory_order_seq_cst) !=
           kUnlocked) {
      events.parking();
      state_.wait(kLockedWithWaiters, std::memory_order_relaxed);
    }
  }

  std::atomic<std::uint32_t> state_{kUnlocked};
};

// Holds a SpinThenParkLock from construction to destruction, so that every
// exit from a scope, exceptions included, releases it.
class VESK_SCOPED_CAPABILITY SpinThenParkLockGuard {
 public:
  explicit SpinThenParkLockGuard(SpinThenParkLock& lock) noexcept
      VESK_ACQUIRE(lock)
      : lock_(lock) {
    lock_.lock();
  }
  ~SpinThenParkLockGuard() VESK_RELEASE() { lock_.unlock(); }
  SpinThenParkLockGuard(const SpinThenParkLockGuard&) = delete;
  SpinThenParkLockGuard& operator=(const SpinThenParkLockGuard&) = delete;

 private:
  SpinThenParkLock& lock_;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_SPIN_THEN_PARK_LOCK_H_
