#ifndef VESK_CACHE_PER_THREAD_READ_LOCK_H_
#define VESK_CACHE_PER_THREAD_READ_LOCK_H_

#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

#include "spin_then_park_lock.h"
#include "thread_number.h"
#include "thread_safety_annotations.h"

namespace morvane::vesk {

namespace detail {

// A reading of a clock that all cores share and that never goes back, cheap
// enough to take on every read. On x86-64, the time-stamp counter (invariant,
// and kept in step across cores wherever Linux uses it as its clock source),
// read after every earlier instruction has completed, so that the reading is
// never older than the loads before it; it is never newer than the loads
// after it either, since they retire after it and a load whose line changes
// before it retires is done again. Elsewhere, std::chrono::steady_clock. It
// costs some 10 to 15 ns here, most of a 64-B hit's overhead over a plain
// lookup.
inline std::uint64_t orderedClockNow() noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __builtin_ia32_lfence();
  return __builtin_ia32_rdtsc();
#else
  return static_cast<std::uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

}  // namespace detail

// A shared/exclusive lock for data read far more often than written, whose
// readers write only memory of their own, and whose readers keep an ordered
// log of what they did for the next writer to apply.
//
// Readers: tryLockShared() claims the calling thread's slot, a cache line of
// its own (threads are numbered, and thread n uses slot n modulo the slot
// count), and checks that no writer holds the lock. While it holds the lock
// shared, a reader may record() what it did, stamped, and count() events,
// both into its slot. A reader never waits, and allocates only on its
// thread's first use of any such lock, to number the thread. When a writer
// holds or waits for the lock, another thread is in the same slot, the
// slot's log is full or the thread cannot be numbered, tryLockShared() fails
// and the caller takes the lock exclusively instead, or first waits for the
// writer with awaitWriter(), reading only, and tries again.
//
// Writers: lock() takes the writer lock (a SpinThenParkLock: spins, then
// parks), which stops new readers, then waits for the readers already in to
// leave. Holding it, a writer sees every record of every reader that left
// before it, and replay() hands them over in the order of their stamps,
// emptying the logs. A reader stamps a record with stampNow() at the moment
// that orders it, somewhere inside its hold.
//
// Order: records of one slot are stamped in the order their readers held the
// slot; across slots, a record stamped later was made later. Two reads of
// which one finished before the other began, as seen by any thread that saw
// both, are separated by at least a transfer of a cache line between cores,
// which takes far longer than a tick of the clock, so their stamps keep that
// order; reads that overlapped may come in either order (equal stamps:
// lower slot first).
//
// Why the handshake is sound: a reader stores its claim, then loads the
// writer lock's state; a writer takes the lock, then loads each claim; all
// four are sequentially consistent, so at least one side sees the other: the
// reader backs off, or the writer waits for it.
//
// Cost: a reader's hold is a compare-and-swap and a store on its own line
// and loads of the writer lock's line, which only writers write (and a
// thread's first use of a slot). A writer reads the claim of every slot
// threads have used and merges the logs that hold records (one comparison
// per log per record).
//
// Memory: slots x (128 + 16 x kLogCapacity) bytes, allocated at
// construction.
template <typename Record, std::size_t kLogCapacity = 256,
          std::size_t kCounters = 2>
class VESK_CAPABILITY("mutex") PerThreadReadLock {
  static_assert(std::is_trivially_copyable_v<Record> && sizeof(Record) <= 8);
  struct Slot;

 public:
  // A power of two: twice the hardware threads, 16 at the least and 64 at
  // the most, so that a process's usual threads each get a slot of their own.
  static std::size_t defaultSlots() noexcept {
    const std::size_t wanted =
        std::size_t{2} * std::thread::hardware_concurrency();
    return std::bit_ceil(wanted < 16 ? 16 : wanted > 64 ? 64 : wanted);
  }

  // `slots` is rounded up to a power of two. Throws std::bad_alloc.
  explicit PerThreadReadLock(std::size_t slots = defaultSlots())
      : mask_(std::bit_ceil(slots == 0 ? 1 : slots) - 1),
        slots_(mask_ + 1),
        merging_(mask_ + 1) {}
  PerThreadReadLock(const PerThreadReadLock&) = delete;
  PerThreadReadLock& operator=(const PerThreadReadLock&) = delete;
  ~PerThreadReadLock() = default;

  // A reader's hold on its slot, from tryLockShared() to unlockShared().
  class Reader {
   private:
    friend class PerThreadReadLock;
    Slot* slot = nullptr;
  };

  // True: the caller holds the lock shared through `reader`, with room in
  // its log for one record. False: it holds nothing; lock() instead.
  bool tryLockShared(Reader& reader) noexcept VESK_TRY_ACQUIRE_SHARED(true) {
    std::size_t number = 0;
    try {
      number = currentThreadNumber();
    } catch (const std::bad_alloc&) {
      return false;  // a thread that cannot be numbered only writes
    }
    const std::size_t index = number & mask_;
    Slot& slot = slots_[index];
    std::uint32_t free = kFree;
    // Sequentially consistent with the loads below and with the writer's
    // acquisition and loads: see the handshake in the class comment.
    if (!slot.claim.compare_exchange_strong(free, kReading,
                                            std::memory_order_seq_cst,
                                            std::memory_order_relaxed)) {
      return false;
    }
    // The first use of a slot beyond those in use widens what writers scan,
    // before the handshake's load of the writer lock, so that a writer that
    // this reader does not see scans the slot.
    if (index >= inUse_.load(std::memory_order_seq_cst)) widenInUse(index + 1);
    if (writer_.isHeldInOrder() || slot.size == kLogCapacity) {
      slot.claim.store(kFree, std::memory_order_release);
      return false;
    }
    reader.slot = &slot;
    return true;
  }

  // A stamp for a record, taken while the reader holds the lock.
  static std::uint64_t stampNow() noexcept { return detail::orderedClockNow(); }

  // Appends `record` with `stamp`, taken by this reader since its last
  // record, to the reader's log.
  void record(const Reader& reader, std::uint64_t stamp,
              const Record& record) noexcept VESK_REQUIRES_SHARED(this) {
    Slot& slot = *reader.slot;
    slot.log[slot.size++] = Stamped{stamp, record};
  }

  // Counts one event of kind `which` (below kCounters) in the reader's slot.
  void count(const Reader& reader, std::size_t which) noexcept
      VESK_REQUIRES_SHARED(this) {
    ++reader.slot->counts[which];
  }

  void unlockShared(const Reader& reader) noexcept VESK_RELEASE_SHARED() {
    // Publishes the slot's log and counts to the next writer, whose
    // sequentially consistent (so acquiring) load of the claim reads this
    // store or a later one.
    reader.slot->claim.store(kFree, std::memory_order_release);
  }

  // Spins, reading only, while a writer holds the lock, for up to about
  // 50 us, so that a reader turned away by a writer can try again rather
  // than queue behind it and sleep. Returns whether the lock was free when
  // it returned.
  [[nodiscard]] bool awaitWriter() const noexcept {
    for (int spin = 0; spin < kAwaitSpins; ++spin) {
      if (!writer_.isLocked()) return true;
      SpinThenParkLock::relaxCpu();
    }
    return !writer_.isLocked();
  }

  void lock() noexcept VESK_ACQUIRE() {
    writer_.lock();
    scanned_ = inUse_.load(std::memory_order_seq_cst);
    for (std::size_t i = 0; i < scanned_; ++i) {
      const std::atomic<std::uint32_t>& claim = slots_[i].claim;
      for (int spin = 0; claim.load(std::memory_order_seq_cst) != kFree;
           ++spin) {
        // A reader holds the slot for a few hundred nanoseconds, unless it
        // was descheduled: then give it the core.
        if (spin < SpinThenParkLock::kSpinLimit) {
          SpinThenParkLock::relaxCpu();
        } else {
          std::this_thread::yield();
        }
      }
    }
  }

  void unlock() noexcept VESK_RELEASE() { writer_.unlock(); }

  // Calls apply(record) for every record made since the last replay, in
  // stamp order, and empties the logs. `apply` must not throw.
  template <typename Apply>
  void replay(Apply&& apply) noexcept VESK_REQUIRES(this) {
    replay(apply, [](const Record&) {});
  }

  // The same, calling prefetch(record) a few records ahead of apply(record),
  // so that what applying touches can be on its way meanwhile.
  template <typename Apply, typename Prefetch>
  void replay(Apply&& apply, Prefetch&& prefetch) noexcept
      VESK_REQUIRES(this) {
    std::size_t merging = 0;
    for (std::size_t i = 0; i < scanned_; ++i) {
      if (slots_[i].size != 0) merging_[merging++] = &slots_[i];
    }
    if (merging == 1) {
      // One reader since the last writer, the usual case: its log is in
      // order already.
      Slot& only = *merging_[0];
      for (std::size_t i = 0; i < only.size; ++i) {
        if (i + kAhead < only.size) prefetch(only.log[i + kAhead].record);
        apply(only.log[i].record);
      }
      only.size = 0;
      return;
    }
    // Each step applies the oldest record at the head of any log; a log
    // earlier in slot order wins a tie. `replayed` counts what each log has
    // given so far.
    for (std::size_t i = 0; i < merging; ++i) merging_[i]->replayed = 0;
    for (;;) {
      Slot* oldest = nullptr;
      for (std::size_t i = 0; i < merging; ++i) {
        Slot& log = *merging_[i];
        if (log.replayed == log.size) continue;
        if (oldest == nullptr ||
            log.log[log.replayed].stamp < oldest->log[oldest->replayed].stamp) {
          oldest = &log;
        }
      }
      if (oldest == nullptr) break;
      if (oldest->replayed + kAhead < oldest->size) {
        prefetch(oldest->log[oldest->replayed + kAhead].record);
      }
      apply(oldest->log[oldest->replayed++].record);
    }
    for (std::size_t i = 0; i < merging; ++i) merging_[i]->size = 0;
  }

  // The sum over all slots of the events of kind `which`.
  [[nodiscard]] std::uint64_t counted(std::size_t which) const noexcept
      VESK_REQUIRES(this) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < scanned_; ++i) total += slots_[i].counts[which];
    return total;
  }

  void resetCounts() noexcept VESK_REQUIRES(this) {
    for (std::size_t i = 0; i < scanned_; ++i) {
      for (std::uint64_t& count : slots_[i].counts) count = 0;
    }
  }

  [[nodiscard]] std::size_t slots() const noexcept { return mask_ + 1; }

  // Whether a writer or any reader holds the lock at this instant. A
  // snapshot, for assertions and tests.
  [[nodiscard]] bool isLocked() const noexcept {
    if (writer_.isLocked()) return true;
    for (std::size_t i = 0; i <= mask_; ++i) {
      if (slots_[i].claim.load(std::memory_order_relaxed) != kFree) {
        return true;
      }
    }
    return false;
  }

  // The writer lock alone, for tests that hold it to keep readers out.
  [[nodiscard]] SpinThenParkLock& writerLock() noexcept { return writer_; }

 private:
  static constexpr std::uint32_t kFree = 0;
  static constexpr std::uint32_t kReading = 1;
  static constexpr int kAwaitSpins = 2048;
  static constexpr std::size_t kAhead = 4;

  struct Stamped {
    std::uint64_t stamp;
    Record record;
  };

  // One thread's claim, counts and log. Aligned to two cache lines, so that
  // neither it nor the line an adjacent-line prefetcher pairs with it is
  // written by another reader.
  struct alignas(128) Slot {
    std::atomic<std::uint32_t> claim{kFree};
    // Written by the slot's reader while it holds the claim, and by a writer
    // holding the lock: never both at once.
    std::uint32_t size = 0;
    std::uint32_t replayed = 0;  // the writer's, during replay()
    std::array<std::uint64_t, kCounters> counts = {};
    std::array<Stamped, kLogCapacity> log;
  };

  // Raises inUse_ to at least `count`; sequentially consistent, as the
  // claim before it and the load of the writer lock after it.
  void widenInUse(std::size_t count) noexcept {
    std::size_t seen = inUse_.load(std::memory_order_relaxed);
    while (seen < count &&
           !inUse_.compare_exchange_weak(seen, count, std::memory_order_seq_cst,
                                         std::memory_order_relaxed)) {
    }
  }

  // Read by every reader, written by writers and by a reader's first use of
  // a slot: a line of their own, apart from the slots.
  alignas(64) SpinThenParkLock writer_;
  // Slots below this number have been used; a writer scans only those. It
  // only grows.
  std::atomic<std::size_t> inUse_{0};
  // The writer's copy of inUse_, read when it took the lock.
  std::size_t scanned_ = 0;
  alignas(64) const std::size_t mask_;
  // Constructed in place and never resized: a Slot does not move.
  std::vector<Slot> slots_;
  // replay()'s list of the logs it merges; the writer's alone.
  std::vector<Slot*> merging_;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_PER_THREAD_READ_LOCK_H_
