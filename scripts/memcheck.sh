#!/usr/bin/env bash
# Runs both programs and the unit tests of a build (default: the dev preset's)
# under valgrind's memcheck: any memory error, or memory definitely lost at
# exit, fails the run. The allocation tests are left out: they replace
# operator new to count and fail allocations, which memcheck's own
# replacement overrides. So is the linearizability test: valgrind runs one
# thread at a time, so its calls hardly ever overlap there, and its thousand
# histories take minutes (AddressSanitizer and ThreadSanitizer run it). So
# is the capacity curve's comparison with real caches over its whole grid:
# it replays each sequence through 25 caches, close to four minutes under
# memcheck for code the other tests run there too (AddressSanitizer runs
# it); the curve's other tests run. The example's and the benchmarks' tests
# are not run (AddressSanitizer runs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}

binaries=("${build}/cache_check" "${build}/cache_baseline")
for test in "${build}"/tests/*_test; do
  case "${test}" in
    *allocation_test | *linearizability_test) ;;
    *) binaries+=("${test}") ;;
  esac
done
# Arguments of the runs that leave some of a binary's tests out.
declare -A arguments=(
  [capacity_curve_test]="--gtest_filter=-CapacityCurve.GivesTheHitsOfARealCacheAtEverySizeOfTheGrid"
)

logs=$(mktemp -d)
export logs
trap 'rm -rf "${logs}"' EXIT
# memcheck <binary> <arguments>: runs the binary under memcheck, its log in
# ${logs}; fails, showing the log, on any error.
memcheck() {
  local binary=$1 log
  log="${logs}/$(basename "${binary}").log"
  # shellcheck disable=SC2086  # the arguments are words, or none
  if valgrind --quiet --error-exitcode=99 --leak-check=full \
      --errors-for-leak-kinds=definite --show-leak-kinds=definite \
      "${binary}" ${2:-} >"${log}" 2>&1; then
    echo "memcheck clean: ${binary}"
  else
    echo "memcheck FAILED: ${binary}"
    cat "${log}"
    return 1
  fi
}
export -f memcheck
for binary in "${binaries[@]}"; do
  printf '%s\0%s\0' "${binary}" "${arguments[$(basename "${binary}")]:-}"
done | xargs -0 -n 2 -P 2 bash -c 'memcheck "$@"' _
echo "memcheck: ${#binaries[@]} passed, 0 failed"
