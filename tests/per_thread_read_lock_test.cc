#include "cache/per_thread_read_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "cache/thread_number.h"

namespace morvane::vesk {
namespace {

using Lock = PerThreadReadLock<std::uint64_t>;

// The tests take and release shared holds across assertions and threads,
// which the thread-safety analysis cannot follow; these say so once.
template <typename L>
bool enter(L& lock, typename L::Reader& reader) VESK_NO_THREAD_SAFETY_ANALYSIS {
  return lock.tryLockShared(reader);
}
template <typename L>
void put(L& lock, const typename L::Reader& reader, std::uint64_t value)
    VESK_NO_THREAD_SAFETY_ANALYSIS {
  lock.record(reader, L::stampNow(), value);
  lock.count(reader, 0);
}
template <typename L>
void leave(L& lock, const typename L::Reader& reader)
    VESK_NO_THREAD_SAFETY_ANALYSIS {
  lock.unlockShared(reader);
}

// Runs `body` on a thread of its own and waits for it.
template <typename Body>
void onNewThread(Body body) {
  std::thread(body).join();
}

void spinUntil(const std::atomic<bool>& flag) {
  while (!flag.load()) std::this_thread::yield();
}

// Records `value` under a shared hold of its own; false if none was had.
bool recordShared(Lock& lock, std::uint64_t value) {
  Lock::Reader reader;
  if (!enter(lock, reader)) return false;
  put(lock, reader, value);
  leave(lock, reader);
  return true;
}

std::vector<std::uint64_t> replayAll(Lock& lock) {
  std::vector<std::uint64_t> replayed;
  lock.lock();
  lock.replay([&](std::uint64_t value) { replayed.push_back(value); });
  lock.unlock();
  return replayed;
}

TEST(ThreadNumber, LiveThreadsHoldDifferentNumbersAndExitedOnesAreReused) {
  const std::size_t mine = currentThreadNumber();
  EXPECT_EQ(currentThreadNumber(), mine);
  std::size_t first = 0;
  onNewThread([&] { first = currentThreadNumber(); });
  EXPECT_NE(first, mine);
  std::size_t second = 0;
  onNewThread([&] { second = currentThreadNumber(); });
  EXPECT_EQ(second, first) << "an exited thread's number is free again";
}

TEST(PerThreadReadLock, ReadersOfDifferentThreadsHoldItAtOnce) {
  Lock lock;
  std::atomic<bool> holding{false};
  std::atomic<bool> done{false};
  std::thread other([&] {
    Lock::Reader reader;
    ASSERT_TRUE(enter(lock, reader));
    holding = true;
    spinUntil(done);
    leave(lock, reader);
  });
  spinUntil(holding);
  Lock::Reader reader;
  const bool shared = enter(lock, reader);
  if (shared) leave(lock, reader);
  done = true;
  other.join();
  EXPECT_TRUE(shared);
}

// A writer that arrives while a reader is inside takes the lock only after
// that reader has left, and no reader gets in while the writer holds it.
TEST(PerThreadReadLock, WriterWaitsForReadersInsideAndKeepsNewOnesOut) {
  Lock lock;
  std::atomic<bool> readerInside{false};
  std::atomic<bool> writerLeft{false};
  std::thread reader([&] {
    Lock::Reader hold;
    ASSERT_TRUE(enter(lock, hold));
    readerInside = true;
    // The writer has taken the writer lock and now waits for this reader.
    while (!lock.writerLock().isLocked()) std::this_thread::yield();
    readerInside = false;
    leave(lock, hold);
  });
  spinUntil(readerInside);
  std::thread writer([&] {
    lock.lock();
    EXPECT_FALSE(readerInside.load()) << "the writer got in beside a reader";
    std::atomic<bool> shared{true};
    onNewThread([&] {
      Lock::Reader hold;
      shared = enter(lock, hold);
      if (shared) leave(lock, hold);
    });
    EXPECT_FALSE(shared.load()) << "a reader got in beside the writer";
    lock.unlock();
    writerLeft = true;
  });
  reader.join();
  writer.join();
  EXPECT_TRUE(writerLeft.load());
  EXPECT_TRUE(recordShared(lock, 1));
}

// A reader fails over to writing, holding nothing, when another thread is in
// its slot or its log is full; the next writer's replay makes room.
TEST(PerThreadReadLock, ReaderFailsOverWhenItsSlotIsTakenOrItsLogIsFull) {
  PerThreadReadLock<std::uint64_t, 4> small(1);
  EXPECT_EQ(small.slots(), 1u);
  std::atomic<bool> holding{false};
  std::atomic<bool> done{false};
  std::thread other([&] {
    decltype(small)::Reader reader;
    ASSERT_TRUE(enter(small, reader));
    holding = true;
    spinUntil(done);
    leave(small, reader);
  });
  spinUntil(holding);
  decltype(small)::Reader reader;
  const bool sharedSlot = enter(small, reader);
  if (sharedSlot) leave(small, reader);
  done = true;
  other.join();
  EXPECT_FALSE(sharedSlot) << "two threads held one slot";

  for (std::uint64_t value = 0; value < 4; ++value) {
    ASSERT_TRUE(enter(small, reader));
    put(small, reader, value);
    leave(small, reader);
  }
  EXPECT_FALSE(enter(small, reader)) << "a full log took a fifth";
  std::vector<std::uint64_t> replayed;
  small.lock();
  small.replay([&](std::uint64_t value) { replayed.push_back(value); });
  small.unlock();
  EXPECT_EQ(replayed, (std::vector<std::uint64_t>{0, 1, 2, 3}));
  EXPECT_TRUE(enter(small, reader));
  leave(small, reader);
}

// Records made one after another on different threads come back in the
// order they were made, whatever slots the threads use, and only once;
// counts add up over the slots until reset.
TEST(PerThreadReadLock, ReplaysRecordsOfAllThreadsInTheOrderTheyWereMade) {
  Lock lock;
  std::uint64_t next = 0;
  // Thread runs of 1, 2 and 3 records, the threads alternating, so that no
  // log's order alone and no order of the slots gives the right answer.
  for (int run = 0; run < 6; ++run) {
    const int records = 1 + run % 3;
    const auto recordRun = [&] {
      for (int i = 0; i < records; ++i) ASSERT_TRUE(recordShared(lock, next++));
    };
    if (run % 2 == 0) {
      onNewThread(recordRun);
    } else {
      recordRun();
    }
  }
  std::vector<std::uint64_t> expected(next);
  for (std::uint64_t i = 0; i < next; ++i) expected[i] = i;
  lock.lock();
  EXPECT_EQ(lock.counted(0), next);
  EXPECT_EQ(lock.counted(1), 0u);
  lock.resetCounts();
  EXPECT_EQ(lock.counted(0), 0u);
  lock.unlock();
  EXPECT_EQ(replayAll(lock), expected);
  EXPECT_TRUE(replayAll(lock).empty());
}

// Readers and writers of several threads at once: readers must always see
// the pair a writer left whole, and every record made must be replayed
// exactly once. Under ThreadSanitizer, any access the lock fails to order
// is reported too.
TEST(PerThreadReadLock, ReadersNeverSeeAWriterHalfwayAndNoRecordIsLost) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  Lock lock(2);  // fewer slots than threads: some readers share one
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::uint64_t replayed = 0;
  std::atomic<std::uint64_t> recorded{0};
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        Lock::Reader reader;
        if ((round + t) % 8 != 0 && enter(lock, reader)) {
          if (first != second) ++torn;
          put(lock, reader, first);
          recorded.fetch_add(1);
          leave(lock, reader);
          continue;
        }
        lock.lock();
        lock.replay([&](std::uint64_t) { ++replayed; });
        ++first;
        ++second;
        lock.unlock();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  lock.lock();
  lock.replay([&](std::uint64_t) { ++replayed; });
  lock.unlock();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(replayed, recorded.load());
  EXPECT_GT(recorded.load(), 0u);
}

}  // namespace
}  // namespace morvane::vesk
