#!/usr/bin/env bash
# Builds and runs every test: g++ and clang++ with warnings as errors, then
# AddressSanitizer with UndefinedBehaviorSanitizer, then ThreadSanitizer on
# the concurrency tests; last, the g++ build's programs and tests again under
# valgrind's memcheck.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=(dev clang asan tsan)
for preset in "${presets[@]}"; do
  echo "=== ${preset}"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}"
  ctest --preset "${preset}"
done

echo "=== memcheck"
./scripts/memcheck.sh build/dev
