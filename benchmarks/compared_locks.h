#ifndef VESK_BENCHMARKS_COMPARED_LOCKS_H_
#define VESK_BENCHMARKS_COMPARED_LOCKS_H_

#include <pthread.h>

#include <atomic>
#include <thread>

// Locks the cache's SpinThenParkLock is compared with, for the lock
// benchmark only. Each satisfies BasicLockable.

namespace morvane::vesk {

// glibc's adaptive mutex: spins a bounded, self-tuning number of times before
// sleeping in the kernel as std::mutex does at once.
class AdaptivePthreadMutex {
 public:
  AdaptivePthreadMutex() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
    pthread_mutex_init(&mutex_, &attributes);
    pthread_mutexattr_destroy(&attributes);
  }
  ~AdaptivePthreadMutex() { pthread_mutex_destroy(&mutex_); }
  AdaptivePthreadMutex(const AdaptivePthreadMutex&) = delete;
  AdaptivePthreadMutex& operator=(const AdaptivePthreadMutex&) = delete;

  void lock() { pthread_mutex_lock(&mutex_); }
  void unlock() { pthread_mutex_unlock(&mutex_); }

 private:
  pthread_mutex_t mutex_;
};

// A test-and-test-and-set lock that spins with the pause instruction and,
// after a bound, yields the processor instead of sleeping: it never parks, so
// a waiter keeps being scheduled while the holder is descheduled.
class SpinThenYieldLock {
 public:
  void lock() noexcept {
    for (int spin = 0;; ++spin) {
      if (!locked_.load(std::memory_order_relaxed) &&
          !locked_.exchange(true, std::memory_order_acquire)) {
        return;
      }
      if (spin < kSpinLimit) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
      } else {
        std::this_thread::yield();
      }
    }
  }
  void unlock() noexcept { locked_.store(false, std::memory_order_release); }

 private:
  static constexpr int kSpinLimit = 128;
  std::atomic<bool> locked_{false};
};

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_COMPARED_LOCKS_H_
