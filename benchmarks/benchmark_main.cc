// The main() of every benchmark executable: fixes glibc's heap behaviour,
// then runs Google Benchmark as its own main() would.
#include <malloc.h>

#include <cstdio>

#include <benchmark/benchmark.h>

namespace {

constexpr int kMiB = 1024 * 1024;

// glibc starts by serving blocks of 128 KiB and more with mmap, and raises
// that threshold to the size of each such block freed; once the threshold
// passes the largest document, the same blocks come from its heap, which by
// itself more than halves the time of the document workload. Which case ran
// first would decide which state a case sees, so every executable fixes the
// state before any case runs: no block below 32 MiB (everything these
// workloads allocate) is mmapped, and freed memory stays in the heap up to
// 64 MiB. Caches, the floor and the peer all run in this one state.
// Called first thing in main(), before any other thread exists.
bool fixHeapState() {
  return mallopt(M_MMAP_THRESHOLD, 32 * kMiB) == 1 &&  // NOLINT(concurrency-mt-unsafe)
         mallopt(M_TRIM_THRESHOLD, 64 * kMiB) == 1;    // NOLINT(concurrency-mt-unsafe)
}

}  // namespace

int main(int argc, char** argv) {
  if (!fixHeapState()) {
    std::fprintf(stderr, "%s: glibc refused the heap settings\n", argv[0]);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext(
      "heap", "glibc M_MMAP_THRESHOLD 32 MiB, M_TRIM_THRESHOLD 64 MiB, fixed");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
