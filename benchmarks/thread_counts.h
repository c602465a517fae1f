#ifndef VESK_BENCHMARKS_THREAD_COUNTS_H_
#define VESK_BENCHMARKS_THREAD_COUNTS_H_

#include <benchmark/benchmark.h>

#include <cstdint>

namespace morvane::vesk {

// 64-B and 4-KiB keys at 1 and 2 threads, and at 4 and 8 on fewer cores;
// real time, so that the time per item falls if threads overlap and rises if
// they queue on the lock.
inline void onOneToEightThreads(benchmark::internal::Benchmark* bench) {
  bench->ArgName("markdown")
      ->Arg(64)
      ->Arg(std::int64_t{4} * 1024)
      ->Threads(1)
      ->Threads(2)
      ->Threads(4)
      ->Threads(8)
      ->UseRealTime();
}

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_THREAD_COUNTS_H_
