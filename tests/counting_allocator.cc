#include "tests/counting_allocator.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace morvane::vesk::testing {
namespace {

thread_local std::uint64_t allocations = 0;
thread_local std::uint64_t failAfter = 0;  // 0: no failure armed
thread_local bool fired = false;
thread_local std::int64_t liveBytes = 0;
thread_local std::int64_t peakLiveBytes = 0;
thread_local void (*freeObserver)(void*) = nullptr;
thread_local void* freeObserverContext = nullptr;

void* allocate(std::size_t size) {
  ++allocations;
  if (failAfter != 0 && --failAfter == 0) {
    fired = true;
    throw std::bad_alloc();
  }
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  liveBytes += static_cast<std::int64_t>(malloc_usable_size(memory));
  peakLiveBytes = std::max(peakLiveBytes, liveBytes);
  return memory;
}

void release(void* memory) noexcept {
  if (memory == nullptr) return;
  if (freeObserver != nullptr) freeObserver(freeObserverContext);
  liveBytes -= static_cast<std::int64_t>(malloc_usable_size(memory));
  std::free(memory);
}

}  // namespace

std::uint64_t allocationsOnThisThread() { return allocations; }

void failNthAllocationOnThisThread(std::uint64_t n) {
  failAfter = n;
  fired = false;
}

std::int64_t liveBytesOnThisThread() { return liveBytes; }

std::int64_t peakLiveBytesOnThisThread() { return peakLiveBytes; }

void resetPeakLiveBytesOnThisThread() { peakLiveBytes = liveBytes; }

bool disarmAllocationFailure() {
  failAfter = 0;
  return fired;
}

void observeFreesOnThisThread(void (*observer)(void* context), void* context) {
  freeObserver = observer;
  freeObserverContext = context;
}

}  // namespace morvane::vesk::testing

void* operator new(std::size_t size) {
  return morvane::vesk::testing::allocate(size);
}
void* operator new[](std::size_t size) {
  return morvane::vesk::testing::allocate(size);
}
void operator delete(void* memory) noexcept {
  morvane::vesk::testing::release(memory);
}
void operator delete[](void* memory) noexcept {
  morvane::vesk::testing::release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  morvane::vesk::testing::release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  morvane::vesk::testing::release(memory);
}
