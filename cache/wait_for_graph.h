#ifndef VESK_CACHE_WAIT_FOR_GRAPH_H_
#define VESK_CACHE_WAIT_FOR_GRAPH_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "export.h"

namespace morvane::vesk::detail {

// Which threads wait for which measurements in progress, across every cache
// of the process, so that no caller waits for a measurement that cannot end
// before it does: one whose measurer is, directly or through other
// measurers, waiting for this caller's thread (the measurer may be that very
// thread). A thread waits for at most one measurement and a measurement has
// one measurer, so from a measurement the graph is a chain; every wait it
// lets begin keeps the graph acyclic, so walking the chain ends.
//
// Locking: one process-wide mutex guards the graph and every measurement's
// end. It is taken only by a caller about to wait (holding the lock of the
// cache where it found the measurement) and by the measurer of a
// measurement that has waiters, once it ends; its holders take no other
// lock, so it comes after any cache's lock. A waiter holds it from the
// check for a cycle until it parks: whoever takes it after the waiter began
// knows that the waiter has parked or is done.
//
// Lifetimes: a thread's record is thread-local. A measurement names its
// measurer's record from its construction, on the measurer's thread, until
// it ends. Only a caller that finds the measurement listed in its cache
// (the measurer is then inside the cache, alive) and the walks through a
// waiter of it read that name; whenever anyone waits for it, its measurer
// ends it under the mutex before returning, which clears the name, and a
// waiter unregisters under the mutex before it lets go of the measurement.
class WaitForGraph {
 public:
  class Thread;

  class Measurement {
   public:
    enum class Outcome : std::uint8_t { kPending, kMeasured, kAbandoned };

    // To be made by its measurer, on the measurer's thread.
    Measurement() noexcept;
    Measurement(const Measurement&) = delete;
    Measurement& operator=(const Measurement&) = delete;

   private:
    friend class WaitForGraph;
    // Guarded by the mutex once other threads can see the measurement; null
    // once it ended.
    const Thread* measurer_;
    Outcome outcome_ = Outcome::kPending;
    std::condition_variable ended_;
  };

  // One caller's wait for a measurement, from the check for a cycle to the
  // end of the wait.
  class Wait {
   public:
    // Takes the mutex and begins the wait, unless waiting would close a
    // cycle: then it releases the mutex and began() is false.
    explicit Wait(Measurement& awaited);
    ~Wait();
    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;

    [[nodiscard]] bool began() const noexcept { return began_; }
    // Once began(): parks until the measurement ends (releasing the mutex
    // meanwhile) and returns how; the wait is over.
    Measurement::Outcome untilEnded();

   private:
    Measurement& awaited_;
    std::unique_lock<std::mutex> lock_;
    bool began_ = false;
  };

  // For a measurer whose measurement has waiters: ends it with `outcome`
  // (kMeasured or kAbandoned), having written whatever the waiters read,
  // and wakes them.
  static void end(Measurement& measurement,
                  Measurement::Outcome outcome) noexcept;

  // Returns once every wait begun before the call has parked or ended: for
  // tests that need a waiter parked before they let its measurement end.
  VESK_EXPORT static void settle() noexcept;
};

}  // namespace morvane::vesk::detail

#endif  // VESK_CACHE_WAIT_FOR_GRAPH_H_
