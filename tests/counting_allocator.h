#ifndef VESK_TESTS_COUNTING_ALLOCATOR_H_
#define VESK_TESTS_COUNTING_ALLOCATOR_H_

#include <cstdint>

namespace morvane::vesk::testing {

// The test binary that links counting_allocator.cc replaces the global
// operator new with one that counts the allocations made on the calling
// thread and can be told to fail one of them.

// Allocations made by this thread so far.
std::uint64_t allocationsOnThisThread();

// Makes this thread's `n`th allocation from now (1 = the next one) throw
// std::bad_alloc. The failure is used up when it fires.
void failNthAllocationOnThisThread(std::uint64_t n);

// Cancels a failure that has not fired. Returns whether one had fired.
bool disarmAllocationFailure();

}  // namespace morvane::vesk::testing

#endif  // VESK_TESTS_COUNTING_ALLOCATOR_H_
