#include "thread_number.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace morvane::vesk {
namespace {

// Which numbers live threads hold.
class NumberRegistry {
 public:
  std::size_t take() {
    const std::lock_guard lock(mutex_);
    const auto free = std::find(held_.begin(), held_.end(), false);
    const auto number = static_cast<std::size_t>(free - held_.begin());
    if (free == held_.end()) {
      held_.push_back(true);
    } else {
      *free = true;
    }
    return number;
  }

  void give(std::size_t number) noexcept {
    const std::lock_guard lock(mutex_);
    held_[number] = false;
  }

 private:
  std::mutex mutex_;
  std::vector<bool> held_;
};

NumberRegistry& registry() {
  // Never destroyed: threads may exit after static destruction has begun.
  static auto* const instance = new NumberRegistry;
  return *instance;
}

// Gives the thread's number back when the thread exits.
struct Registration {
  explicit Registration(std::size_t taken) noexcept : number(taken) {}
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() { registry().give(number); }
  std::size_t number;
};

}  // namespace

std::size_t currentThreadNumber() {
  static constexpr std::size_t kUnnumbered = ~std::size_t{0};
  thread_local std::size_t number = kUnnumbered;
  if (number == kUnnumbered) {
    const std::size_t taken = registry().take();
    thread_local const Registration registration(taken);
    number = taken;
  }
  return number;
}

}  // namespace morvane::vesk
