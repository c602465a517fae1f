#!/usr/bin/env bash
# Runs both programs and the unit tests of a build (default: the dev preset's)
# under valgrind's memcheck: any memory error, or memory definitely lost at
# exit, fails the run. The allocation tests are left out: they replace
# operator new to count and fail allocations, which memcheck's own
# replacement overrides. So is the linearizability test: valgrind runs one
# thread at a time, so its calls hardly ever overlap there, and its thousand
# histories take minutes (AddressSanitizer and ThreadSanitizer run it).
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

logs=$(mktemp -d)
trap 'rm -rf "${logs}"' EXIT
memcheck() {
  local binary=$1 log
  log="$2/$(basename "${binary}").log"
  if valgrind --quiet --error-exitcode=99 --leak-check=full \
      --errors-for-leak-kinds=definite --show-leak-kinds=definite \
      "${binary}" >"${log}" 2>&1; then
    echo "memcheck clean: ${binary}"
  else
    echo "memcheck FAILED: ${binary}"
    cat "${log}"
    return 1
  fi
}
export -f memcheck
printf '%s\n' "${binaries[@]}" | xargs -P 2 -I{} bash -c 'memcheck "$@"' _ {} "${logs}"
echo "memcheck: ${#binaries[@]} passed, 0 failed"
