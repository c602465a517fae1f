#!/usr/bin/env bash
# Builds and runs every test: g++ and clang++ with warnings as errors (then
# clang-tidy over the cache, the programs and their tests), g++ again with
# the libraries built shared (what the shared libraries do not export, the
# tests cannot link against), AddressSanitizer with
# UndefinedBehaviorSanitizer, ThreadSanitizer on the concurrency tests, a
# bounded libFuzzer run of the cache against its reference model, and last
# the g++ build's programs and the cache's and programs' tests again under
# valgrind's memcheck. The consumer tests, which build and install vesk
# again ten times to check how other projects use it, run in the g++ build
# only; the hash count test,
# whose link-time wrapping cannot reach into a shared library, runs in the
# static builds. First installs every Debian package this needs that is
# missing.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

# Each stage says how long it took, so that a slow one shows in the log.
stage_start=${SECONDS}
stage_done() {
  echo "=== $1 took $((SECONDS - stage_start)) s"
  stage_start=${SECONDS}
}

presets=(dev clang shared asan tsan fuzz)
for preset in "${presets[@]}"; do
  echo "=== ${preset}"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j2
  ctest --preset "${preset}"
  stage_done "${preset}"
  if [[ "${preset}" == clang ]]; then
    echo "=== clang-tidy"
    ./scripts/tidy.sh
    stage_done clang-tidy
  fi
done

echo "=== memcheck"
./scripts/memcheck.sh build/dev
stage_done memcheck
echo "=== all stages took ${SECONDS} s"
