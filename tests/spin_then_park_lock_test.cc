#include "cache/spin_then_park_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane::vesk {
namespace {

// Data only ever touched under one lock. The counter and the flag are plain,
// so that two threads inside at once show up as a lost increment, a flag
// already set, or (under ThreadSanitizer) a data race.
struct Guarded {
  SpinThenParkLock lock;
  std::uint64_t counter VESK_GUARDED_BY(lock) = 0;
  bool inside VESK_GUARDED_BY(lock) = false;
  std::uint64_t overlaps VESK_GUARDED_BY(lock) = 0;

  void enter() VESK_REQUIRES(lock) {
    if (inside) ++overlaps;
    inside = true;
  }
  void leave() VESK_REQUIRES(lock) {
    ++counter;
    inside = false;
  }
};

// More threads than this machine has cores, each taking the lock in every
// way a caller can: the annotated guard, std::scoped_lock, and try_lock.
// Some critical sections are long enough that waiters give up spinning and
// park, and some holders yield inside, so that the holder is descheduled
// while others wait.
TEST(SpinThenParkLock, ExcludesEachOtherWithMoreThreadsThanCores) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  Guarded guarded;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&guarded, t] {
      for (int round = 0; round < kRounds; ++round) {
        switch ((round + t) % 4) {
          case 0: {
            const SpinThenParkLockGuard hold(guarded.lock);
            guarded.enter();
            guarded.leave();
            break;
          }
          case 1: {
            const std::scoped_lock hold(guarded.lock);
            // std::scoped_lock carries no annotations.
            [&]() VESK_NO_THREAD_SAFETY_ANALYSIS {
              guarded.enter();
              std::this_thread::yield();
              guarded.leave();
            }();
            break;
          }
          case 2:
            if (guarded.lock.try_lock()) {
              guarded.enter();
              guarded.leave();
              guarded.lock.unlock();
            } else {
              const SpinThenParkLockGuard hold(guarded.lock);
              guarded.enter();
              guarded.leave();
            }
            break;
          default: {
            const SpinThenParkLockGuard hold(guarded.lock);
            guarded.enter();
            // Now and then longer than the spin: the others park.
            if (round % 64 == 0) {
              std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            guarded.leave();
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const SpinThenParkLockGuard hold(guarded.lock);
  EXPECT_EQ(guarded.overlaps, 0u);
  EXPECT_EQ(guarded.counter, std::uint64_t{kThreads} * kRounds);
}

// Counts what the waiters of one lock do (through lock(events)). A waiter
// may be held inside its first spin until the test releases it, so that the
// test knows the waiter is still spinning, not merely that it started.
struct CountingEvents {
  std::atomic<int> spins{0};
  std::atomic<int> parks{0};
  std::atomic<int> events{0};  // spins and parks, to wait for either
  bool holdFirstSpin = false;  // set before any waiter starts
  std::atomic<bool> released{false};

  void spinning() noexcept {
    const int spin = spins.fetch_add(1) + 1;
    happened();
    if (holdFirstSpin && spin == 1) released.wait(false);
  }
  void parking() noexcept {
    parks.fetch_add(1);
    parks.notify_all();
    happened();
  }
  void happened() noexcept {
    events.fetch_add(1);
    events.notify_all();
  }
  // Returns once `counter` has reached `count`; no time limit, no sleep.
  static void awaitCount(std::atomic<int>& counter, int count) {
    for (int seen = counter.load(); seen < count; seen = counter.load()) {
      counter.wait(seen);
    }
  }
};

// A waiter: takes the lock telling `events`, goes in and out, releases it.
void takeCounted(Guarded& guarded, CountingEvents& events) {
  guarded.lock.lock(events);
  guarded.enter();
  guarded.leave();
  guarded.lock.unlock();
}

// Waiters that find the lock held, for as long as it takes each of them to
// reach its park, spin exactly kSpinLimit times and then park, each once,
// having marked the lock so that its release wakes them (a waiter that
// never marks it would spin until the holder leaves); every one of them is
// woken and gets the lock once it is released. Ordered by the waiters' own
// events, so the outcome is the same under every interleaving.
TEST(SpinThenParkLock, WakesEveryParkedWaiter) {
  constexpr int kWaiters = 4;
  Guarded guarded;
  CountingEvents events;
  std::vector<std::thread> waiters;
  {
    const SpinThenParkLockGuard hold(guarded.lock);
    for (int t = 0; t < kWaiters; ++t) {
      waiters.emplace_back(takeCounted, std::ref(guarded), std::ref(events));
    }
    CountingEvents::awaitCount(events.parks, kWaiters);
    // Nothing changes the state while the lock is held and every waiter
    // sleeps: these hold at this instant whatever the scheduling.
    EXPECT_TRUE(guarded.lock.isMarkedForWaiters());
    EXPECT_EQ(events.parks.load(), kWaiters);
    EXPECT_EQ(events.spins.load(), kWaiters * SpinThenParkLock::kSpinLimit);
  }
  for (std::thread& waiter : waiters) waiter.join();
  const SpinThenParkLockGuard hold(guarded.lock);
  EXPECT_EQ(guarded.counter, std::uint64_t{kWaiters});
  EXPECT_EQ(guarded.overlaps, 0u);
}

// A hold shorter than the spin costs no park: the holder releases while the
// waiter is held inside its first spin, so the waiter finds the lock free
// when it looks, whatever the scheduling.
TEST(SpinThenParkLock, AShortContendedHoldDoesNotPark) {
  Guarded guarded;
  CountingEvents events;
  events.holdFirstSpin = true;
  std::thread waiter;
  {
    const SpinThenParkLockGuard hold(guarded.lock);
    waiter = std::thread(takeCounted, std::ref(guarded), std::ref(events));
    // The waiter is in its first spin, or about to park if it does not spin.
    CountingEvents::awaitCount(events.events, 1);
  }
  events.released.store(true);
  events.released.notify_all();
  waiter.join();
  EXPECT_EQ(events.parks.load(), 0);
  EXPECT_EQ(events.spins.load(), 1);
  const SpinThenParkLockGuard hold(guarded.lock);
  EXPECT_EQ(guarded.counter, 1u);
}

// Not recursive: the holder's own try_lock fails; the lock reports itself
// held exactly while it is. (The analysis cannot follow try_lock through
// assertions, hence the unchecked lambda.)
TEST(SpinThenParkLock, IsNotRecursiveAndReportsWhetherItIsHeld) {
  SpinThenParkLock lock;
  [&]() VESK_NO_THREAD_SAFETY_ANALYSIS {
    EXPECT_FALSE(lock.isLocked());
    ASSERT_TRUE(lock.try_lock());
    EXPECT_TRUE(lock.isLocked());
    EXPECT_FALSE(lock.try_lock());
    lock.unlock();
    EXPECT_FALSE(lock.isLocked());
  }();
  {
    const SpinThenParkLockGuard hold(lock);
    EXPECT_TRUE(lock.isLocked());
  }
  EXPECT_FALSE(lock.isLocked());
}

}  // namespace
}  // namespace morvane::vesk
