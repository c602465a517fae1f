// What the capacity curve costs per recorded lookup: a hash of the key, a
// probe of its key map and the Fenwick-tree walks, at the layout example's
// grid of nine byte budgets, over working sets of a thousand to 131,072
// distinct keys.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "benchmarks/benchmark_keys.h"
#include "cache/capacity_curve.h"

namespace morvane::vesk {
namespace {

// 1, 2, 4, ... 256 MiB.
std::vector<std::uint64_t> layoutGridBudgets() {
  std::vector<std::uint64_t> budgets;
  for (std::uint64_t mib = 1; mib <= 256; mib *= 2) {
    budgets.push_back(mib << 20);
  }
  return budgets;
}

// Lookups of `distinct` keys of `markdownBytes`, the key of each drawn with a
// skew towards a few (the square of a uniform draw), so that reuse distances
// of every length occur, as they do in a viewer's session.
void recordLookup(benchmark::State& state) {
  const auto distinct = static_cast<std::size_t>(state.range(0));
  const auto markdownBytes = static_cast<std::size_t>(state.range(1));
  const std::vector<MeasurementCacheKey> keys =
      benchmarkKeys(distinct, markdownBytes);
  constexpr std::size_t kDraws = std::size_t{1} << 16;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::uint32_t> order(kDraws);
  for (std::uint32_t& index : order) {
    const double u = unit(random);
    index = static_cast<std::uint32_t>(u * u * static_cast<double>(distinct));
  }

  CapacityCurve curve(layoutGridBudgets());
  for (const MeasurementCacheKey& key : keys) curve.recordLookup(key);
  std::size_t next = 0;
  for (auto _ : state) {
    curve.recordLookup(keys[order[next]]);
    next = (next + 1) % kDraws;
  }
  benchmark::DoNotOptimize(curve.hits(512, std::uint64_t{8} << 20));
  state.SetItemsProcessed(state.iterations());
  state.counters["distinct"] = static_cast<double>(curve.distinctKeys());
}

BENCHMARK(recordLookup)
    ->Name("CapacityCurve/record_lookup")
    ->ArgNames({"distinct", "markdown"})
    ->Args({1024, 64})
    ->Args({16384, 64})
    ->Args({131072, 64})
    ->Args({16384, 4096});

}  // namespace
}  // namespace morvane::vesk
