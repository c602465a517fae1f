#ifndef VESK_TESTS_COUNTING_ALLOCATOR_H_
#define VESK_TESTS_COUNTING_ALLOCATOR_H_

#include <cstdint>

namespace morvane::vesk::testing {

// The test binary that links counting_allocator.cc replaces the global
// operator new with one that counts the allocations made on the calling
// thread, keeps track of the bytes this thread holds, and can be told to fail
// one allocation.

// Allocations made by this thread so far.
std::uint64_t allocationsOnThisThread();

// Bytes allocated by this thread and freed by it since, as malloc sized the
// blocks; a block freed by another thread than its allocator's skews both.
std::int64_t liveBytesOnThisThread();

// The most liveBytesOnThisThread() reached since the last call to
// resetPeakLiveBytesOnThisThread() (or since the thread started).
std::int64_t peakLiveBytesOnThisThread();
void resetPeakLiveBytesOnThisThread();

// Makes this thread's `n`th allocation from now (1 = the next one) throw
// std::bad_alloc. The failure is used up when it fires.
void failNthAllocationOnThisThread(std::uint64_t n);

// Cancels a failure that has not fired. Returns whether one had fired.
bool disarmAllocationFailure();

// Calls `observer(context)` before each block this thread frees from now on,
// until observeFreesOnThisThread(nullptr, nullptr) stops it. The observer
// must not allocate or free.
void observeFreesOnThisThread(void (*observer)(void* context), void* context);

}  // namespace morvane::vesk::testing

#endif  // VESK_TESTS_COUNTING_ALLOCATOR_H_
