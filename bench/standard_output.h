#ifndef VESK_BENCH_STANDARD_OUTPUT_H_
#define VESK_BENCH_STANDARD_OUTPUT_H_

namespace morvane::vesk {

// Flushes standard output and tells whether everything written to it so far
// arrived. On failure it says so on standard error, naming `program`, so that
// a report that was lost is never taken for a success.
bool flushStandardOutput(const char* program);

}  // namespace morvane::vesk

#endif  // VESK_BENCH_STANDARD_OUTPUT_H_
