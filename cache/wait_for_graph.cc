#include "wait_for_graph.h"

namespace morvane::vesk::detail {

namespace {

// The graph's one mutex, initialised before any code runs.
std::mutex& graphMutex() {
  constinit static std::mutex mutex;
  return mutex;
}

}  // namespace

class WaitForGraph::Thread {
 public:
  // Guarded by the mutex: the measurement this thread waits for, or null.
  const Measurement* awaited = nullptr;

  // Trivially constructed and destroyed, so a thread's first use neither
  // allocates nor registers a destructor.
  static Thread& current() noexcept {
    static thread_local Thread record;
    return record;
  }
};

WaitForGraph::Measurement::Measurement() noexcept
    : measurer_(&Thread::current()) {}

WaitForGraph::Wait::Wait(Measurement& awaited)
    : awaited_(awaited), lock_(graphMutex()) {
  Thread& self = Thread::current();
  // Along the chain: the measurer, the measurement it waits for, that one's
  // measurer ... A measurer that runs, or a measurement that ended, ends the
  // chain: the wait will end.
  for (const Measurement* along = &awaited; along != nullptr;) {
    const Thread* measurer = along->measurer_;
    if (measurer == nullptr) break;
    if (measurer == &self) {
      lock_.unlock();
      return;
    }
    along = measurer->awaited;
  }
  self.awaited = &awaited;
  began_ = true;
}

WaitForGraph::Wait::~Wait() {
  if (began_) Thread::current().awaited = nullptr;
}

WaitForGraph::Measurement::Outcome WaitForGraph::Wait::untilEnded() {
  awaited_.ended_.wait(lock_, [this] {
    return awaited_.outcome_ != Measurement::Outcome::kPending;
  });
  Thread::current().awaited = nullptr;
  began_ = false;
  const Measurement::Outcome outcome = awaited_.outcome_;
  lock_.unlock();
  return outcome;
}

void WaitForGraph::end(Measurement& measurement,
                       Measurement::Outcome outcome) noexcept {
  const std::lock_guard lock(graphMutex());
  measurement.measurer_ = nullptr;
  measurement.outcome_ = outcome;
  measurement.ended_.notify_all();
}

void WaitForGraph::settle() noexcept {
  const std::lock_guard lock(graphMutex());
}

}  // namespace morvane::vesk::detail
