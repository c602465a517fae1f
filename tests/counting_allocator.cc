#include "tests/counting_allocator.h"

#include <cstdlib>
#include <new>

namespace morvane::vesk::testing {
namespace {

thread_local std::uint64_t allocations = 0;
thread_local std::uint64_t failAfter = 0;  // 0: no failure armed
thread_local bool fired = false;

void* allocate(std::size_t size) {
  ++allocations;
  if (failAfter != 0 && --failAfter == 0) {
    fired = true;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

std::uint64_t allocationsOnThisThread() { return allocations; }

void failNthAllocationOnThisThread(std::uint64_t n) {
  failAfter = n;
  fired = false;
}

bool disarmAllocationFailure() {
  failAfter = 0;
  return fired;
}

}  // namespace morvane::vesk::testing

void* operator new(std::size_t size) {
  return morvane::vesk::testing::allocate(size);
}
void* operator new[](std::size_t size) {
  return morvane::vesk::testing::allocate(size);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
