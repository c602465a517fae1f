#!/usr/bin/env bash
# Builds the bench preset (g++ -O2, Google Benchmark), runs the tests of the
# benchmarks' support code, then every benchmark program: each case repeated
# in random order, medians reported. The document cases then run once more
# with glibc's `rep movsb` copies turned off (see docs/performance.md).
# Raw results go to build/bench/results/. Takes about eight minutes.
#
#   scripts/run-benchmarks.sh           # everything
#   scripts/run-benchmarks.sh threads   # only the lookups at 1, 2, 4 and 8
#                                       # threads: the cache, the unshared
#                                       # floor, LevelDB and RocksDB (about
#                                       # four minutes)
#
# REPETITIONS=N overrides the repetitions of every case (11).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-all}
case "${mode}" in
  all | threads) ;;
  *)
    echo "usage: $0 [all|threads]" >&2
    exit 2
    ;;
esac
repetitions=${REPETITIONS:-11}
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
ctest --preset bench >/dev/null

results=build/bench/results
rm -rf "${results}"
mkdir -p "${results}"

# run PROGRAM RESULT-NAME [ARGUMENT...]: runs one benchmark program, keeping
# its console report and its JSON results; prints the run's context.
run() {
  local program=$1 name=$2
  shift 2
  local binary="build/bench/benchmarks/${program}"
  if [[ ! -x "${binary}" ]]; then
    echo "=== ${name}: not built (LevelDB or RocksDB missing:" \
      "apt-get install libleveldb-dev librocksdb-dev)"
    return
  fi
  echo "=== ${name}"
  "${binary}" \
    --benchmark_repetitions="${repetitions}" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.1 \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="${results}/${name}.json" \
    --benchmark_out_format=json \
    "$@" >"${results}/${name}.txt"
  sed -n '/^---/q;p' "${results}/${name}.txt"
}

# The uptime line says how busy the machine was: other work on its cores
# slows one thread more than several, which then gain more than they would.
uptime
if [[ "${mode}" == threads ]]; then
  lookups='get_(hit|set_mix)_threads'
  run cache_benchmark cache_benchmark --benchmark_filter="${lookups}"
  run leveldb_peer_benchmark leveldb_peer_benchmark \
    --benchmark_filter="${lookups}"
  run rocksdb_peer_benchmark rocksdb_peer_benchmark \
    --benchmark_filter="${lookups}"
  uptime
  awk -f scripts/summarize-benchmarks.awk "${results}"/*.json |
    sed -n '/^=== threads/,/^=== locks/p' | sed '$d'
  exit 0
fi

run cache_benchmark cache_benchmark
run lock_benchmark lock_benchmark
run baseline_benchmark baseline_benchmark
run leveldb_peer_benchmark leveldb_peer_benchmark
run rocksdb_peer_benchmark rocksdb_peer_benchmark

no_rep_movsb="${GLIBC_TUNABLES:+${GLIBC_TUNABLES}:}glibc.cpu.x86_rep_movsb_threshold=4294967295"
GLIBC_TUNABLES="${no_rep_movsb}" run cache_benchmark \
  cache_benchmark.no-rep-movsb --benchmark_filter=documents
GLIBC_TUNABLES="${no_rep_movsb}" run leveldb_peer_benchmark \
  leveldb_peer_benchmark.no-rep-movsb --benchmark_filter=documents

uptime
awk -f scripts/summarize-benchmarks.awk "${results}"/*.json
