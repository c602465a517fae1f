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
// Thread safety: any thread, any time, but not from a thread_local's
// destructor run after the thread's number was released. The first call on a
// thread registers it under a process-wide mutex and may throw
// std::bad_alloc; later calls read a thread-local and cannot fail.
VESK_EXPORT std::size_t currentThreadNumber();

}  // namespace morvane::vesk

#endif  // VESK_CACHE_THREAD_NUMBER_H_
