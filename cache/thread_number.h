#ifndef VESK_CACHE_THREAD_NUMBER_H_
#define VESK_CACHE_THREAD_NUMBER_H_

#include <cstddef>

#include "export.h"

namespace morvane::vesk {

// A small number for the calling thread: the smallest that no other live
// thread holds, kept until the thread exits and then given to the next thread
// that asks. So the numbers in use stay below the number of threads that
// ever asked at once, and a lock can give each thread a slot of its own by
// number.
//
// Thread safety: any thread, any time. The first call on a thread registers
// it under a process-wide mutex and may throw std::bad_alloc; later calls
// read a thread-local and cannot fail. A thread-local destructor that runs
// after the thread gave its number back still reads the old number, which a
// new thread may hold meanwhile: a user of the numbers must stay correct
// when two threads share one (PerThreadReadLock claims its slots).
//
// Cost: a call and a thread-local read; registering, a scan of the numbers
// given out.
VESK_EXPORT std::size_t currentThreadNumber();

}  // namespace morvane::vesk

#endif  // VESK_CACHE_THREAD_NUMBER_H_
